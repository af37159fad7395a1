// ctest-labels: threads
// Whole matches against hostile player programs, in fast mode without a
// window: each must end as the rules say (result line, skipped-frames lines,
// a replay file that reads back whole), within its time limit, with exit
// code 0, without a sanitizer report and with the referee's memory bounded.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "../../players/PlayerIO.h"
#include "ReplayTestSupport.h"
#include "RunProcess.h"

namespace {

// A short match needs 10 to 20 MB.  The sanitizers' shadow memory and ASan's
// quarantine of freed blocks (256 MB by default) come on top of that.
constexpr long PEAK_LIMIT_KB = SANITIZED ? 640 * 1024 : 128 * 1024;
constexpr double TIME_LIMIT_SECONDS = SANITIZED ? 180 : 60;

const std::string MAP = SOURCE_DIR "/maps/demo.txt";
const char* const NAMES[2] = {"blue", "red"};

std::string TestPlayer(const std::string& nameAndArgs) { return TESTPLAYER_DIR "/" + nameAndArgs; }

// ---------------------------------------------------------------- running and measuring

struct MeasuredRun {
    RunResult run;
    long peakKb = -1;  // the referee's peak resident memory
};

struct RunHeader {
    int32_t exitCode, signal, timedOut;
    int64_t peakKb;
    uint64_t outLen, errLen;
};

// Runs the referee from a child of this process made only for it: the
// child's RUSAGE_CHILDREN peak is then the referee's own, whatever else this
// process has run (the player programs are never waited for, so they do not
// count).
MeasuredRun RunRefereeMeasured(const std::vector<std::string>& args, const RunOptions& options) {
    MeasuredRun measured;
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        measured.run.err = "pipe failed";
        return measured;
    }
    pid_t pid = fork();
    if (pid == 0) {
        close(report[0]);
        RunResult r = RunReferee(args, options);
        rusage usage{};
        getrusage(RUSAGE_CHILDREN, &usage);
        RunHeader header{r.exitCode, r.signal, r.timedOut ? 1 : 0, usage.ru_maxrss, r.out.size(), r.err.size()};
        bool ok = playerio::WriteAll(reinterpret_cast<const char*>(&header), sizeof header, report[1]) &&
                  playerio::WriteAll(r.out, report[1]) && playerio::WriteAll(r.err, report[1]);
        _exit(ok ? 0 : 1);
    }
    close(report[1]);
    std::string bytes;
    char buf[65536];
    for (;;) {
        ssize_t got = read(report[0], buf, sizeof buf);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        bytes.append(buf, static_cast<size_t>(got));
    }
    close(report[0]);
    if (pid > 0) waitpid(pid, nullptr, 0);
    RunHeader header;
    if (bytes.size() < sizeof header) {
        measured.run.err = "no report from the measuring child";
        return measured;
    }
    memcpy(&header, bytes.data(), sizeof header);
    if (bytes.size() != sizeof header + header.outLen + header.errLen) {
        measured.run.err = "short report from the measuring child";
        return measured;
    }
    measured.run.exitCode = header.exitCode;
    measured.run.signal = header.signal;
    measured.run.timedOut = header.timedOut != 0;
    measured.run.out = bytes.substr(sizeof header, header.outLen);
    measured.run.err = bytes.substr(sizeof header + header.outLen);
    measured.peakKb = static_cast<long>(header.peakKb);
    return measured;
}

// ---------------------------------------------------------------- one match

struct Played {
    std::string dir;
    MeasuredRun measured;
    ReplayFile replay;
    int endFrame = -1;            // the frame of the end-of-match lines
    int skipped[2] = {-1, -1};    // as the end-of-match lines give them
    int answered[2] = {-1, -1};   // frame answers at the end, from the replay's last frame
    int score[2] = {-1, -1};      // from the result line
    const RunResult& Run() const { return measured.run; }
};

// The end-of-match lines "...|Game::GameOver|frame[F]|NAME skipped frames:N".
void ParseEndLines(const std::string& err, Played& p) {
    const std::string mark = "|Game::GameOver|frame[";
    for (size_t pos = err.find(mark); pos != std::string::npos; pos = err.find(mark, pos + 1)) {
        const char* text = err.c_str() + pos + mark.size();
        char* end;
        const long frame = strtol(text, &end, 10);
        if (strncmp(end, "]|", 2) != 0) continue;
        for (int i = 0; i < 2; ++i) {
            const std::string tail = std::string(NAMES[i]) + " skipped frames:";
            if (strncmp(end + 2, tail.c_str(), tail.size()) != 0) continue;
            p.endFrame = static_cast<int>(frame);
            p.skipped[i] = static_cast<int>(strtol(end + 2 + tail.size(), nullptr, 10));
        }
    }
}

Played PlayMatch(const std::string& label, const std::string& player1, const std::string& player2,
                 const std::vector<std::string>& extra = {}) {
    Played p;
    p.dir = MakeTempDir("hostile-" + label);
    std::vector<std::string> args = {"-f", "-m", MAP, "-n", NAMES[0], "-N", NAMES[1], "-r", p.dir + "/x.rep"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(player1);
    args.push_back(player2);
    RunOptions options;
    options.unsetEnv = {"DISPLAY", "POSIXLY_CORRECT"};
    options.workDir = p.dir;
    options.timeoutSeconds = TIME_LIMIT_SECONDS;
    p.measured = RunRefereeMeasured(args, options);

    ParseEndLines(p.Run().err, p);
    int used = 0;
    const std::string& out = p.Run().out;
    if (sscanf(out.c_str(), "{\"status\":\"%*[^\"]\",\"score\":[%d,%d]}\n%n", &p.score[0], &p.score[1], &used) != 2 ||
        used != static_cast<int>(out.size())) {
        p.score[0] = p.score[1] = -1;
    }
    p.replay = ReadReplay(ReadFile(p.dir + "/x.rep"));
    if (!p.replay.frames.empty()) {
        const replay_protocol::Frame& last = p.replay.frames.back();
        for (int i = 0; i < 2 && i < last.players_size(); ++i)
            p.answered[i] = last.frame_id() - last.players(i).skipped_frames();
    }
    return p;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The sanitizers' reports, from the referee or from a player program.
void ExpectNoSanitizerReport(const std::string& err) {
    for (const char* mark : {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "WARNING: ThreadSanitizer",
                             "ThreadSanitizer:", "runtime error:"}) {
        EXPECT_FALSE(Contains(err, mark)) << "sanitizer report (" << mark << "):\n" << err.substr(0, 20000);
    }
}

// Everything every match must show, whatever the players did: it ended in
// time with exit code 0 and a result line; its replay file reads back whole,
// one frame per played frame, and agrees with the result line and the
// skipped-frames lines; the referee's memory stayed bounded.
void ExpectWellEnded(const Played& p) {
    const RunResult& r = p.Run();
    EXPECT_FALSE(r.timedOut) << "the referee was still running after " << TIME_LIMIT_SECONDS << " s";
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.exitCode, 0);
    ExpectNoSanitizerReport(r.err);
    EXPECT_GT(p.measured.peakKb, 0);
    EXPECT_LT(p.measured.peakKb, PEAK_LIMIT_KB) << "peak resident memory in KiB";
    ASSERT_GE(p.score[0], 0) << "no result line: " << r.out;
    ASSERT_GT(p.endFrame, 0) << "no skipped-frames lines";

    ASSERT_EQ(p.replay.error, "") << "replay file " << p.dir << "/x.rep";
    ASSERT_EQ(p.replay.header.player_names_size(), 2);
    EXPECT_EQ(p.replay.header.player_names(0), NAMES[0]);
    EXPECT_EQ(p.replay.header.player_names(1), NAMES[1]);
    ASSERT_EQ(static_cast<int>(p.replay.frames.size()), p.endFrame);
    int lastSkipped[2] = {0, 0};
    for (int f = 0; f < p.endFrame; ++f) {
        const replay_protocol::Frame& frame = p.replay.frames[f];
        ASSERT_EQ(frame.frame_id(), f + 1);
        ASSERT_EQ(frame.players_size(), 2) << "frame " << f + 1;
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(frame.players(i).robots_size(), 4) << "frame " << f + 1;
            // A frame answers at most one earlier message, so the count never falls.
            EXPECT_GE(frame.players(i).skipped_frames(), lastSkipped[i]) << "frame " << f + 1 << ", player " << i;
            lastSkipped[i] = frame.players(i).skipped_frames();
        }
    }
    const replay_protocol::Frame& last = p.replay.frames.back();
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(NAMES[i]);
        EXPECT_EQ(last.players(i).money(), p.score[i]);
        // The match ended on a failure, in its last recorded frame, before
        // the frame counter advanced.
        EXPECT_EQ(p.skipped[i], last.players(i).skipped_frames() - 1);
        EXPECT_EQ(p.skipped[i], p.endFrame - 1 - p.answered[i]);
        // Money 0 comes only from a crash in these matches (no one trades).
        const std::string crash = "|Player:" + std::to_string(i + 1) + " crashed.\n";
        if (p.score[i] == 0) {
            EXPECT_TRUE(Contains(r.err, crash)) << r.err.substr(0, 20000);
        } else {
            EXPECT_FALSE(Contains(r.err, crash)) << r.err.substr(0, 20000);
        }
    }
}

// ---------------------------------------------------------------- the hostile players

// One ending that the rules allow; where timing decides between several, a
// case lists each.
struct Outcome {
    std::string result;  // the whole result line
    std::string logged;  // a fragment of the log line that names the cause
};

std::string Result(const char* status, int score1, int score2) {
    return "{\"status\":\"" + std::string(status) + "\",\"score\":[" + std::to_string(score1) + "," +
           std::to_string(score2) + "]}\n";
}

const char* const FORMAT = "Output format error.";
const char* const RUNTIME = "Runtime error.";

struct HostileCase {
    const char* name;
    std::string player1, player2;
    int hostile;  // the index of the hostile player
    std::vector<Outcome> outcomes;
    int minAnswered, maxAnswered;  // the hostile player's frame answers; maxAnswered < 0: any
    std::function<void(const Played&)> check;  // anything further
};

// The other side: a well-behaved player that leaves the match (its read
// fails) when it receives frame n, for the hostile players that would play on.
std::string LeavesAt(int frame) { return TestPlayer("bad_exit " + std::to_string(frame)); }

const HostileCase CASES[] = {
    // Lines without "OK" as fast as the pipe takes them, from frame 3 on: the
    // receive buffer passes 8192 characters in the poll that reads them.
    {"Flood", TestPlayer("bad_flood 3"), LeavesAt(60), 0,
     {{Result(FORMAT, 0, 1000000), "|Can not get 'OK' from stdout.\n"}},
     1, 2, nullptr},
    // 5000 "OK" after its frame line: the first ends the answer, the second
    // comes while no frame message is outstanding.
    {"OkSpam", LeavesAt(60), TestPlayer("bad_okspam 5000"), 1,
     {{Result(FORMAT, 1000000, 0), "|Output format err. stat:1\n"}},
     1, 1, nullptr},
    // A NUL after the frame line, then 4000 bytes of binary junk: the parsed
    // answer ends at the NUL, so the player plays on until the other leaves.
    {"BinaryJunk", TestPlayer("bad_binary 4000"), LeavesAt(40), 0,
     {{Result(RUNTIME, 1000000, 0), "|Handle IO Error\n"}},
     1, -1,
     [](const Played& p) {
         EXPECT_FALSE(Contains(p.Run().err, "|Output format err"));
         EXPECT_FALSE(Contains(p.Run().err, "|Invalid"));
     }},
    // Closes its output after the start answer: the first read after it fails.
    {"ClosedOutput", LeavesAt(60), TestPlayer("bad_closeout"), 1,
     {{Result(RUNTIME, 1000000, 0), "|Handle IO Error\n"}},
     0, 0, [](const Played& p) { EXPECT_EQ(p.endFrame, 1); }},
    // Closes its input after the first frame message: the next message is
    // refused.  It answers again only a second later, time enough for a busy
    // referee to write that message first.
    {"ClosedInput", TestPlayer("bad_closein 1000"), LeavesAt(60), 0,
     {{Result(RUNTIME, 0, 1000000), "|WriteToProcess err.\n"}},
     1, 1, nullptr},
    // Never reads, answers every 20 ms all the same.  Its messages pile up
    // unread.  Whether two of its answers reach one read (an "OK" with no
    // message outstanding) depends on the referee's speed, so the other
    // player may leave first, or both fail in the same poll.  A referee that
    // bounds what a player leaves unread may refuse the next message instead.
    {"NeverReads", TestPlayer("bad_noread"), LeavesAt(60), 0,
     {{Result(FORMAT, 0, 1000000), "|Output format err. stat:1\n"},
      {Result(RUNTIME, 1000000, 0), "|Player:2 crashed.\n"},
      {Result(RUNTIME, 0, 0), "|Output format err. stat:1\n"},
      {Result(RUNTIME, 0, 1000000), "|WriteToProcess err.\n"}},
     0, -1, nullptr},
    // Answers 20 ms after each message, past the 15 ms window: each answer
    // is read in the next frame, which the player therefore skips (about
    // every second frame).  A referee that loses the processor in the window
    // may still read an answer in time, and on a busy machine it often does,
    // so only one frame in eight has to be skipped.
    {"Slow", LeavesAt(40), TestPlayer("bad_slow"), 1,
     {{Result(RUNTIME, 0, 1000000), "|Handle IO Error\n"}},
     1, -1,
     [](const Played& p) { EXPECT_LE(p.answered[1], p.endFrame - 1 - p.endFrame / 8) << "answers read in time"; }},
    // Exits at frame 3, leaving a child that holds both pipes open and reads:
    // to the referee a silent player that skips every frame from then on.
    {"ForkedChildHoldsPipes", TestPlayer("bad_forkchild 3"), LeavesAt(30), 0,
     {{Result(RUNTIME, 1000000, 0), "|Player:2 crashed.\n"}},
     1, 2, nullptr},
    // 100000 bytes on standard error before every answer, in the stream
    // that the referee's log lines share: about 1818 of its 55-byte lines,
    // of which a log line written in between may cut one.
    {"StandardErrorFlood", LeavesAt(40), TestPlayer("bad_stderr 100000"), 1,
     {{Result(RUNTIME, 0, 1000000), "|Handle IO Error\n"}},
     1, -1,
     [](const Played& p) {
         EXPECT_GE(CountOccurrences(p.Run().err, "bad_stderr writes a lot of text"),
                   p.answered[1] * 1800);
     }},
};

void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }

class HostileMatchTest : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileMatchTest, EndsAsTheRulesSay) {
    const HostileCase& c = GetParam();
    Played p = PlayMatch(c.name, c.player1, c.player2);
    SCOPED_TRACE(p.dir);
    ExpectWellEnded(p);
    if (HasFatalFailure()) return;

    const Outcome* outcome = nullptr;
    for (const Outcome& o : c.outcomes) {
        if (o.result == p.Run().out) outcome = &o;
    }
    ASSERT_NE(outcome, nullptr) << "unexpected result line " << p.Run().out;
    EXPECT_TRUE(Contains(p.Run().err, outcome->logged)) << outcome->logged << " missing in\n"
                                                         << p.Run().err.substr(0, 20000);
    EXPECT_GE(p.answered[c.hostile], c.minAnswered);
    if (c.maxAnswered >= 0) {
        EXPECT_LE(p.answered[c.hostile], c.maxAnswered);
    }
    if (c.check) c.check(p);
    if (!HasFailure()) std::filesystem::remove_all(p.dir);
}

INSTANTIATE_TEST_SUITE_P(Hostile, HostileMatchTest, testing::ValuesIn(CASES),
                         [](const testing::TestParamInfo<HostileCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- memory of unread messages

// A player that never reads gets a frame message for every answer it gives.
// Each message (about 17 KB on this map) must not stay in the referee's
// memory for the rest of the match: a long match may grow by the replay
// frames only (a referee that refuses further messages to such a player
// ends the match early, which passes too).  Debug mode makes every frame
// wait for its answer, so that the match lasts until the other player leaves.
TEST(HostileMatchMemory, UnreadMessagesDoNotPileUp) {
    if (SANITIZED) GTEST_SKIP() << "measured in the plain build: the sanitizers' allocators hold memory of their own";
    const int shortEnd = 50;
    const int longEnd = 800;
    const std::string noread = TestPlayer("bad_noread");
    Played shortMatch = PlayMatch("unread-short", noread, LeavesAt(shortEnd), {"-d"});
    ExpectWellEnded(shortMatch);
    // Two answers in one read end the match early (a collision that timing
    // decides); try again then.
    auto collidedEarly = [&](const Played& p) {
        return Contains(p.Run().err, "|Output format err. stat:1\n") && p.endFrame < longEnd / 2;
    };
    Played longMatch;
    for (int attempt = 1;; ++attempt) {
        longMatch = PlayMatch("unread-long", noread, LeavesAt(longEnd), {"-d"});
        if (!collidedEarly(longMatch) || attempt == 3) break;
        std::filesystem::remove_all(longMatch.dir);
    }
    ExpectWellEnded(longMatch);
    if (HasFatalFailure()) return;
    if (collidedEarly(longMatch)) GTEST_SKIP() << "the never-reading player's answers collided in every attempt";

    const long growthKb = longMatch.measured.peakKb - shortMatch.measured.peakKb;
    const long frames = longMatch.endFrame - shortMatch.endFrame;
    // A replay frame takes under 0.5 KB here; 4 KB a frame leaves room for
    // the string's doubling and for allocator slack.
    EXPECT_LE(growthKb, 2048 + 4 * frames) << "peak " << shortMatch.measured.peakKb << " KiB after "
                                           << shortMatch.endFrame << " frames, " << longMatch.measured.peakKb
                                           << " KiB after " << longMatch.endFrame << " frames";
    if (!HasFailure()) {
        std::filesystem::remove_all(shortMatch.dir);
        std::filesystem::remove_all(longMatch.dir);
    }
}

}  // namespace

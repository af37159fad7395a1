// The Python example player and the replay reader, run as a competitor runs
// them: the player through its own "#!" line as the referee starts it, the
// reader through its own on a replay the referee has just written.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "RunProcess.h"

namespace {

const std::string PYTHON_TRADER = SOURCE_DIR "/players/trader.py";
const std::string READ_REPLAY = SOURCE_DIR "/tools/readreplay.py";
const std::string IDLE = PLAYER_DIR "/idle";

struct Match {
    RunResult run;
    std::string replay;
};

// A fast match on the demo map, without a window, its replay in a fresh folder.
Match PlayMatch(const std::string& player1, const std::string& player2, const std::vector<std::string>& extra = {}) {
    Match match;
    const std::string dir = MakeTempDir("python");
    match.replay = dir + "/match.rep";
    std::vector<std::string> args = {"-f", "-m", SOURCE_DIR "/maps/demo.txt", "-r", match.replay};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(player1);
    args.push_back(player2);
    RunOptions options;
    options.unsetEnv = {"DISPLAY"};
    options.workDir = dir;
    options.timeoutSeconds = 900;
    match.run = RunReferee(args, options);
    return match;
}

struct Result {
    std::string status;
    long long score[2] = {-1, -1};
};

// The result line's status and scores; an empty status when there is no such line.
Result ParseResult(const std::string& out) {
    Result result;
    std::smatch m;
    if (std::regex_match(out, m, std::regex("\\{\"status\":\"([^\"]*)\",\"score\":\\[(-?\\d+),(-?\\d+)\\]\\}\n"))) {
        result.status = m[1];
        result.score[0] = std::stoll(m[2]);
        result.score[1] = std::stoll(m[3]);
    }
    return result;
}

RunResult ReadReplay(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {READ_REPLAY};
    argv.insert(argv.end(), args.begin(), args.end());
    RunOptions options;
    options.timeoutSeconds = 120;
    return RunProcess(argv, options);
}

// The whole number after the pattern's text in the reader's output, -1 when absent.
long long Figure(const std::string& text, const std::string& pattern) {
    std::smatch m;
    return std::regex_search(text, m, std::regex(pattern + "(\\d+)")) ? std::stoll(m[1]) : -1;
}

}  // namespace

// Within the answer window, as a competitor's match is played: the player
// has to keep up with it in Python.
TEST(PythonTrader, EarnsMoreThanItsStartMoneyAgainstIdleInAFastMatch) {
    Match m = PlayMatch(PYTHON_TRADER, IDLE);
    ASSERT_EQ(m.run.exitCode, 0) << m.run.err;
    Result result = ParseResult(m.run.out);
    EXPECT_EQ(result.status, "Successful") << m.run.out << m.run.err;
    EXPECT_GT(result.score[0], 200000) << m.run.out;
}

// The trader plays the second side here (the other robots, "RED"); debug
// mode, so that the figures cannot depend on the machine's load.
TEST(ReadReplay, TheLastFrameAgreesWithTheResultLine) {
    Match m = PlayMatch(IDLE, PYTHON_TRADER, {"-d"});
    Result result = ParseResult(m.run.out);
    ASSERT_EQ(result.status, "Successful") << m.run.out << m.run.err;
    EXPECT_GT(result.score[1], 200000);

    RunResult read = ReadReplay({m.replay});
    ASSERT_EQ(read.exitCode, 0) << read.err;
    const std::string& out = read.out;
    EXPECT_EQ(Figure(out, "\nframes +"), 12000) << out;
    EXPECT_EQ(Figure(out, "\nframe "), 12000) << out;
    EXPECT_EQ(Figure(out, "\nplayer 1 [^\n]*: money "), result.score[0]) << out;
    EXPECT_EQ(Figure(out, "\nplayer 2 [^\n]*: money "), result.score[1]) << out;
    // Every workbench of the header is shown with the frame.
    const long long workbenches = Figure(out, "\nworkbenches +");
    EXPECT_GT(workbenches, 0) << out;
    EXPECT_EQ(CountOccurrences(out, ": player "), workbenches) << out;
}

// Any frame can be asked for; bad input of any kind gets a message of the
// reader's own and exit code 1, never a Python traceback.
TEST(ReadReplay, ShowsTheFrameAskedForAndRefusesBadInput) {
    // Player 1 leaves when it receives frame 40, which ends the match there.
    Match m = PlayMatch(TESTPLAYER_DIR "/bad_exit 40", PYTHON_TRADER, {"-d"});
    ASSERT_EQ(ParseResult(m.run.out).status, "Runtime error.") << m.run.out << m.run.err;
    const std::string replay = ReadFile(m.replay);
    ASSERT_GT(replay.size(), 1000u);
    const std::string dir = MakeTempDir("readreplay");
    WriteFile(dir + "/empty.rep", "");
    WriteFile(dir + "/cut.rep", replay.substr(0, replay.size() / 2));

    struct Case {
        const char* name;
        std::vector<std::string> args;
        int exitCode;
        std::string expected;  // in standard output for exit code 0, else in standard error
    } cases[] = {
        {"the last frame by default", {m.replay}, 0, "\nframe 40\nplayer 1 "},
        {"a frame by its number", {m.replay, "17"}, 0, "\nframe 17\nplayer 1 "},
        {"a file cut short", {dir + "/cut.rep"}, 0, "\ndamaged "},
        {"no such frame", {m.replay, "41"}, 1, "readreplay: there is no frame 41"},
        {"a frame that is no number", {m.replay, "last"}, 1, "readreplay: FRAME must be a frame number"},
        {"no such file", {dir + "/none.rep"}, 1, "readreplay: cannot read "},
        {"an empty file", {dir + "/empty.rep"}, 1, "readreplay: "},
        {"a file that is no replay", {SOURCE_DIR "/maps/demo.txt"}, 1, "readreplay: "},
        {"no arguments", {}, 1, "readreplay: usage: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RunResult read = ReadReplay(c.args);
        EXPECT_EQ(read.exitCode, c.exitCode) << read.out << read.err;
        EXPECT_NE((c.exitCode == 0 ? read.out : read.err).find(c.expected), std::string::npos)
            << read.out << read.err;
        EXPECT_EQ(read.err.find("Traceback"), std::string::npos) << read.err;
    }
}

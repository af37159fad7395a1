// The misbehaving test players on their own, fed with frame messages written
// here: each makes exactly the fault it is named for, at the frame it is
// given, and otherwise answers well, so that the whole-match tests can rely
// on them.
#include <gtest/gtest.h>
#include <signal.h>

#include <functional>
#include <string>
#include <vector>

#include "RunProcess.h"

namespace {

// A frame message without workbenches and without lidar.
std::string Frame(int n) {
    std::string text = std::to_string(n) + " 200000\n0\n";
    for (int r = 0; r < 4; ++r) text += "-1 0 0 0 0 0 0 0 10 10\n";
    return text + "OK\n";
}

std::string Input(int frames) {
    std::string text = "BLUE\nOK\n";
    for (int n = 1; n <= frames; ++n) text += Frame(n);
    return text;
}

std::string Answers(int first, int last) {
    std::string text;
    for (int n = first; n <= last; ++n) text += std::to_string(n) + "\nOK\n";
    return text;
}

struct Case {
    const char* name;
    std::vector<std::string> args;
    int frames;           // frame messages written to it
    size_t stopAtOutput;  // a program that never ends by itself is stopped once its output holds this much
    std::function<void(const RunResult&)> check;
};

void ExpectEnded(const RunResult& r) {
    EXPECT_FALSE(r.timedOut);
    EXPECT_FALSE(r.stopped);
    EXPECT_EQ(r.exitCode, 0);
}

// Still running when its output had shown the fault.
void ExpectStopped(const RunResult& r) {
    EXPECT_FALSE(r.timedOut);
    EXPECT_TRUE(r.stopped);
    EXPECT_EQ(r.signal, SIGKILL);
}

const Case CASES[] = {
    {"bad_firstline", {"3"}, 5, 0,
     [](const RunResult& r) {
         ExpectEnded(r);
         EXPECT_EQ(r.out, "OK\n" + Answers(1, 2) + "abc\nOK\nabc\nOK\nabc\nOK\n");
     }},
    {"bad_command", {"2"}, 3, 0,
     [](const RunResult& r) {
         ExpectEnded(r);
         EXPECT_EQ(r.out, "OK\n1\nOK\n2\nforward 0 1.0000\njump 0 1.0000\nrotate 0 1.0000\nOK\n3\nOK\n");
     }},
    {"bad_exit", {"4"}, 8, 0,
     [](const RunResult& r) {
         ExpectEnded(r);
         EXPECT_EQ(r.out, "OK\n" + Answers(1, 3));
     }},
    {"bad_silent", {"3"}, 8, 0,
     [](const RunResult& r) {
         ExpectEnded(r);
         EXPECT_EQ(r.out, "OK\n" + Answers(1, 2));
     }},
    {"bad_late", {"5"}, 3, 0,
     [](const RunResult& r) {
         ExpectEnded(r);
         EXPECT_EQ(r.out, "OK\n" + Answers(1, 3));
     }},
    {"bad_slow", {}, 3, 0,
     [](const RunResult& r) {
         ExpectEnded(r);
         EXPECT_EQ(r.out, "OK\n" + Answers(1, 3));
     }},
    {"bad_okspam", {"4"}, 2, 0,
     [](const RunResult& r) {
         ExpectEnded(r);
         EXPECT_EQ(r.out, "OK\n1\nOK\nOK\nOK\nOK\n2\nOK\nOK\nOK\nOK\n");
     }},
    {"bad_binary", {"3000"}, 3, 0,
     [](const RunResult& r) {
         ExpectEnded(r);
         // Each answer: the frame line, a NUL, junk without "OK", then "OK".
         EXPECT_EQ(CountOccurrences(r.out, "OK"), 4);
         EXPECT_EQ(r.out.size(), 3u + 3 * (2 + 1 + 3000 + 4));
         EXPECT_EQ(r.out.substr(0, 6), std::string("OK\n1\n\0", 6));
         EXPECT_EQ(r.out.substr(r.out.size() - 4), "\nOK\n");
     }},
    {"bad_stderr", {"1000"}, 3, 0,
     [](const RunResult& r) {
         ExpectEnded(r);
         EXPECT_EQ(r.out, "OK\n" + Answers(1, 3));
         EXPECT_EQ(r.err.size(), 3000u);
     }},
    {"bad_closeout", {}, 3, 0,
     [](const RunResult& r) {
         ExpectEnded(r);
         EXPECT_EQ(r.out, "OK\n");
     }},
    {"bad_forkchild", {"3"}, 6, 0,
     [](const RunResult& r) {
         // The child holds the output open until the input ends.
         ExpectEnded(r);
         EXPECT_EQ(r.out, "OK\n" + Answers(1, 2));
     }},
    {"bad_flood", {"2"}, 3, 100001,
     [](const RunResult& r) {
         ExpectStopped(r);
         EXPECT_EQ(r.out.substr(0, 9), "OK\n1\nOK\nf");
         EXPECT_EQ(CountOccurrences(r.out, "OK"), 2);
         EXPECT_GT(r.out.size(), 100000u);
     }},
    {"bad_closein", {"50"}, 3, 17,
     [](const RunResult& r) {
         ExpectStopped(r);
         // Frame 1 is read and answered; then rising numbers without input.
         EXPECT_EQ(r.out.substr(0, 17), "OK\n" + Answers(1, 3).substr(0, 14));
     }},
    {"bad_noread", {"50"}, 0, 17,
     [](const RunResult& r) {
         ExpectStopped(r);
         EXPECT_EQ(r.out.substr(0, 17), "OK\n" + Answers(1, 3).substr(0, 14));
     }},
};

class MisbehavingPlayerTest : public testing::TestWithParam<Case> {};

TEST_P(MisbehavingPlayerTest, MakesItsFault) {
    const Case& c = GetParam();
    std::vector<std::string> argv = {std::string(TESTPLAYER_DIR) + "/" + c.name};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    RunOptions options;
    options.stdinText = Input(c.frames);
    options.stopAtOutputSize = c.stopAtOutput;
    c.check(RunProcess(argv, options));
}

INSTANTIATE_TEST_SUITE_P(TestPlayers, MisbehavingPlayerTest, testing::ValuesIn(CASES),
                         [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace

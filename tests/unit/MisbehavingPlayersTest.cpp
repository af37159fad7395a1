// The misbehaving test players on their own, fed with frame messages written
// here: each makes exactly the fault it is named for, at the frame it is
// given, and otherwise answers well, so that the whole-match tests can rely
// on them.
#include <gtest/gtest.h>

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
    int frames;              // frame messages written to it
    double timeoutSeconds;   // programs that never end by themselves are cut off
    std::function<void(const RunResult&)> check;
};

void ExpectEnded(const RunResult& r) {
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0);
}

const Case CASES[] = {
    {"bad_firstline", {"3"}, 5, 10,
     [](const RunResult& r) {
         ExpectEnded(r);
         EXPECT_EQ(r.out, "OK\n" + Answers(1, 2) + "abc\nOK\nabc\nOK\nabc\nOK\n");
     }},
    {"bad_command", {"2"}, 3, 10,
     [](const RunResult& r) {
         ExpectEnded(r);
         EXPECT_EQ(r.out, "OK\n1\nOK\n2\nforward 0 1.0000\njump 0 1.0000\nrotate 0 1.0000\nOK\n3\nOK\n");
     }},
    {"bad_exit", {"4"}, 8, 10,
     [](const RunResult& r) {
         ExpectEnded(r);
         EXPECT_EQ(r.out, "OK\n" + Answers(1, 3));
     }},
    {"bad_silent", {"3"}, 8, 10,
     [](const RunResult& r) {
         ExpectEnded(r);
         EXPECT_EQ(r.out, "OK\n" + Answers(1, 2));
     }},
    {"bad_late", {"5"}, 3, 10,
     [](const RunResult& r) {
         ExpectEnded(r);
         EXPECT_EQ(r.out, "OK\n" + Answers(1, 3));
     }},
    {"bad_slow", {}, 3, 10,
     [](const RunResult& r) {
         ExpectEnded(r);
         EXPECT_EQ(r.out, "OK\n" + Answers(1, 3));
     }},
    {"bad_okspam", {"4"}, 2, 10,
     [](const RunResult& r) {
         ExpectEnded(r);
         EXPECT_EQ(r.out, "OK\n1\nOK\nOK\nOK\nOK\n2\nOK\nOK\nOK\nOK\n");
     }},
    {"bad_binary", {"3000"}, 3, 10,
     [](const RunResult& r) {
         ExpectEnded(r);
         // Each answer: the frame line, a NUL, junk without "OK", then "OK".
         EXPECT_EQ(CountOccurrences(r.out, "OK"), 4);
         EXPECT_EQ(r.out.size(), 3u + 3 * (2 + 1 + 3000 + 4));
         EXPECT_EQ(r.out.substr(0, 6), std::string("OK\n1\n\0", 6));
         EXPECT_EQ(r.out.substr(r.out.size() - 4), "\nOK\n");
     }},
    {"bad_stderr", {"1000"}, 3, 10,
     [](const RunResult& r) {
         ExpectEnded(r);
         EXPECT_EQ(r.out, "OK\n" + Answers(1, 3));
         EXPECT_EQ(r.err.size(), 3000u);
     }},
    {"bad_closeout", {}, 3, 10,
     [](const RunResult& r) {
         ExpectEnded(r);
         EXPECT_EQ(r.out, "OK\n");
     }},
    {"bad_forkchild", {"3"}, 6, 10,
     [](const RunResult& r) {
         // The child holds the output open until the input ends.
         ExpectEnded(r);
         EXPECT_EQ(r.out, "OK\n" + Answers(1, 2));
     }},
    {"bad_flood", {"2"}, 3, 0.5,
     [](const RunResult& r) {
         EXPECT_TRUE(r.timedOut);
         EXPECT_EQ(r.out.substr(0, 9), "OK\n1\nOK\nf");
         EXPECT_EQ(CountOccurrences(r.out, "OK"), 2);
         EXPECT_GT(r.out.size(), 100000u);
     }},
    {"bad_closein", {"50"}, 3, 0.4,
     [](const RunResult& r) {
         EXPECT_TRUE(r.timedOut);
         // Frame 1 is read and answered; then rising numbers without input.
         EXPECT_EQ(r.out.substr(0, 17), "OK\n" + Answers(1, 3).substr(0, 14));
     }},
    {"bad_noread", {"50"}, 0, 0.4,
     [](const RunResult& r) {
         EXPECT_TRUE(r.timedOut);
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
    options.timeoutSeconds = c.timeoutSeconds;
    c.check(RunProcess(argv, options));
}

INSTANTIATE_TEST_SUITE_P(TestPlayers, MisbehavingPlayerTest, testing::ValuesIn(CASES),
                         [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace

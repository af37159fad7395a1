// ctest-labels: threads
// Whole matches between real player programs, in fast mode and without a
// window.  Matches whose outcome does not depend on the answer window are
// played in debug mode too, so that a busy machine cannot change them.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "RunProcess.h"

namespace {

struct Match {
    RunResult run;
    std::string dir;
};

Match PlayMatch(const std::string& player1, const std::string& player2, std::vector<std::string> extra = {}) {
    Match match;
    match.dir = MakeTempDir("match");
    std::vector<std::string> args = {"-f", "-m", SOURCE_DIR "/maps/demo.txt", "-n", "blue", "-N", "red", "-r",
                                     match.dir + "/match.rep"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(player1);
    args.push_back(player2);
    RunOptions options;
    options.unsetEnv = {"DISPLAY"};
    options.workDir = match.dir;
    options.timeoutSeconds = 900;
    match.run = RunReferee(args, options);
    return match;
}

std::string Player(const char* name) { return std::string(PLAYER_DIR "/") + name; }
std::string TestPlayer(const std::string& nameAndArgs) { return std::string(TESTPLAYER_DIR "/") + nameAndArgs; }

// The skipped frames the end of the match logs for a player, -1 when absent.
int SkippedFrames(const std::string& err, const std::string& name) {
    std::smatch m;
    std::regex line("\\|Game::GameOver\\|frame\\[\\d+\\]\\|" + name + " skipped frames:(-?\\d+)\n");
    return std::regex_search(err, m, line) ? std::stoi(m[1]) : -1;
}

// The frame number of the end-of-match lines.
int EndFrame(const std::string& err) {
    std::smatch m;
    std::regex line("\\|Game::GameOver\\|frame\\[(\\d+)\\]\\|");
    return std::regex_search(err, m, line) ? std::stoi(m[1]) : -1;
}

}  // namespace

TEST(Match, TwoTradersPlayTheWholeMatchAndEarnMoney) {
    Match m = PlayMatch(Player("trader"), Player("trader"), {"-d"});
    ASSERT_EQ(m.run.exitCode, 0) << m.run.err;
    std::smatch score;
    ASSERT_TRUE(std::regex_match(m.run.out, score,
                                 std::regex("\\{\"status\":\"Successful\",\"score\":\\[(\\d+),(\\d+)\\]\\}\n")))
        << m.run.out;
    EXPECT_GT(std::stoi(score[1]), 200000);
    EXPECT_GT(std::stoi(score[2]), 200000);
    EXPECT_EQ(EndFrame(m.run.err), 12001);
    // Debug mode waits for every answer.
    EXPECT_EQ(SkippedFrames(m.run.err, "blue"), 0);
    EXPECT_EQ(SkippedFrames(m.run.err, "red"), 0);
    EXPECT_FALSE(ReadFile(m.dir + "/match.rep").empty());
}

TEST(Match, MisbehavingPlayersLoseWithTheirStatus) {
    struct Case {
        const char* name;
        std::string player1, player2;
        std::string result;
        std::string logged;  // a line fragment that names the fault
        int endFrame;
    } cases[] = {
        {"malformed first line", TestPlayer("bad_firstline 3"), Player("idle"),
         "{\"status\":\"Output format error.\",\"score\":[0,1000000]}\n", "|Output format err at line 1.\n", 3},
        {"unknown command", Player("idle"), TestPlayer("bad_command 4"),
         "{\"status\":\"Output format error.\",\"score\":[1000000,0]}\n", "|Invalid command:jump\n", 4},
        // Its log line is far longer than most, and still a line of its own.
        {"unknown command of 20000 letters", Player("idle"), TestPlayer("bad_command 4 20000"),
         "{\"status\":\"Output format error.\",\"score\":[1000000,0]}\n",
         "|Invalid command:" + std::string(20000, 'q') + "\n[ERR]Robot/Player.cpp:", 4},
        {"program exits mid-match", TestPlayer("bad_exit 6"), Player("idle"),
         "{\"status\":\"Runtime error.\",\"score\":[0,1000000]}\n", "|Player:1 crashed.\n", -1},
        {"program missing", Player("idle"), "./no-such-program",
         "{\"status\":\"Runtime error.\",\"score\":[1000000,0]}\n", "|Run ./no-such-program err.\n", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Match m = PlayMatch(c.player1, c.player2, {"-d"});
        EXPECT_EQ(m.run.exitCode, 0);
        EXPECT_EQ(m.run.out, c.result);
        EXPECT_NE(m.run.err.find(c.logged), std::string::npos) << m.run.err;
        if (c.endFrame > 0) {
            EXPECT_EQ(EndFrame(m.run.err), c.endFrame) << m.run.err;
        }
    }
}

TEST(Match, ASilentPlayerSkipsEveryFrameAndTheMatchGoesOn) {
    // Player 2 answers its first four frame messages, late or not, and then
    // falls silent; player 1 leaves at frame 300, which ends the match.
    Match m = PlayMatch(TestPlayer("bad_exit 300"), TestPlayer("bad_silent 5"));
    EXPECT_EQ(m.run.out, "{\"status\":\"Runtime error.\",\"score\":[0,1000000]}\n");
    const int end = EndFrame(m.run.err);
    ASSERT_GE(end, 300);
    EXPECT_EQ(SkippedFrames(m.run.err, "red"), end - 1 - 4);
}

TEST(Match, ALatePlayerSkipsTheFramesItMisses) {
    Match m = PlayMatch(TestPlayer("bad_late 30"), TestPlayer("bad_exit 200"));
    EXPECT_EQ(m.run.out, "{\"status\":\"Runtime error.\",\"score\":[1000000,0]}\n");
    const int skipped = SkippedFrames(m.run.err, "blue");
    // Every late answer costs at least the frame that follows it.
    EXPECT_GE(skipped, 40) << m.run.err;
    EXPECT_LT(skipped, 199) << m.run.err;
}

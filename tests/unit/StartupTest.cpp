// ctest-labels: threads
// A player program that cannot be started, through the real referee: the
// runtime error of that player, decided before any window or match.
#include <string>

#include <gtest/gtest.h>

#include "RunProcess.h"

namespace {

const std::string MAP = SOURCE_DIR "/tests/maps/pipes_empty.txt";
const std::string MISSING = TESTPLAYER_DIR "/pipe_no_such_player";
// Announces its start on standard error and, once its input has ended
// (the referee is gone), its end; it writes nothing back.
const std::string ANNOUNCING = TESTPLAYER_DIR "/pipe_echo -a -s";

RunResult RunMatch(const std::string& player1, const std::string& player2) {
    RunOptions options;
    options.workDir = MakeTempDir("pipes-startup");
    options.unsetEnv = {"DISPLAY", "POSIXLY_CORRECT"};
    options.timeoutSeconds = 30;
    return RunReferee({"-m", MAP, player1, player2}, options);
}

struct MissingProgramCase {
    const char* name;
    std::string player1;
    std::string player2;
    const char* result;
    int started;  // "pipe_echo: started" lines: the other program was (1) or was not (0) started
    int ended;    // "pipe_echo: end of input" lines: left running, it saw its input end with the referee
};

TEST(StartupTest, MissingProgramIsARuntimeErrorOfItsPlayer) {
    const MissingProgramCase cases[] = {
        {"player 1 missing: player 2 never started", MISSING, ANNOUNCING,
         "{\"status\":\"Runtime error.\",\"score\":[0,1000000]}\n", 0, 0},
        {"player 2 missing: player 1 left running", ANNOUNCING, MISSING,
         "{\"status\":\"Runtime error.\",\"score\":[1000000,0]}\n", 1, 1},
    };
    for (const MissingProgramCase& c : cases) {
        SCOPED_TRACE(c.name);
        RunResult r = RunMatch(c.player1, c.player2);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.out, c.result);
        EXPECT_EQ(CountOccurrences(r.err, "CreateProcess err: No such file or directory\n"), 1) << r.err;
        EXPECT_EQ(CountOccurrences(r.err, "|Run " + MISSING + " err.\n"), 1) << r.err;
        EXPECT_EQ(CountOccurrences(r.err, "pipe_echo: started\n"), c.started) << r.err;
        EXPECT_EQ(CountOccurrences(r.err, "pipe_echo: end of input\n"), c.ended) << r.err;
    }
}

}  // namespace

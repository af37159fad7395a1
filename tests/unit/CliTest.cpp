// The command line, run as the real program.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "RunProcess.h"

namespace {

std::string UsageText(const std::string& replayDefault = "replay/%Y-%m-%d.%H.%M.%S.rep") {
    const std::string prog = ZVREF_PATH;
    return std::string("Zentrik Varnholt 2023 v3.08; Build@") + __DATE__ + "\n" +
           "Usage:\n"
           "   " + prog + " [options...] <player1's program> <player2's program>\n"
           "Options:\n"
           "   -f  Fast mode.\n"
           "   -d  Debug mode.\n"
           "   -m  Specify the map file.\n"
           "   -n  Specify the player1's name.\n"
           "   -N  Specify the player2's name.\n"
           "   -c  Specify the player1's current directory.\n"
           "   -C  Specify the player2's current directory.\n"
           "   -z  Specify the lidar display switch, default:0xFF (b11111111).\n"
           "   -r  Specify the replay file to output. default: '" + replayDefault + "'\n"
           "   -l  Specify the log level:[DBG|INFO|WARN|ERR|ASSERT], defalut:INFO\n"
           "   -h  Display this information\n"
           "Sample:\n"
           "   " + prog + " -m map.txt -c ./team1 ./main.exe -C ./team2 ./main.exe\n"
           "\n";
}

RunOptions NoDisplay() {
    RunOptions options;
    options.unsetEnv = {"DISPLAY", "POSIXLY_CORRECT"};
    options.timeoutSeconds = 20;
    return options;
}

struct UsageCase {
    const char* name;
    std::vector<std::string> args;
    std::string getoptLine;  // the option parser's own line, before the usage text
    std::string replayDefault;
};

}  // namespace

TEST(Cli, UsageTextIsPrintedWithExitCodeZero) {
    const std::string prog = ZVREF_PATH;
    const std::string builtIn = "replay/%Y-%m-%d.%H.%M.%S.rep";
    const UsageCase cases[] = {
        {"help", {"-h"}, "", builtIn},
        {"help after other options", {"-f", "-d", "-h", "a", "b"}, "", builtIn},
        {"unknown option", {"-x", "a", "b"}, prog + ": invalid option -- 'x'\n", builtIn},
        {"missing argument", {"a", "b", "-m"}, prog + ": option requires an argument -- 'm'\n", builtIn},
        {"one program path", {"-m", "map.txt", "a"}, "", builtIn},
        {"three program paths", {"-m", "map.txt", "a", "b", "c"}, "", builtIn},
        {"one program path without a map", {"a"}, "", builtIn},
        {"three program paths without a map", {"a", "b", "c"}, "", builtIn},
        {"no arguments", {}, "", builtIn},
        {"-r before -h shows the pattern", {"-r", "out/%H%M.rep", "-h"}, "", "out/%H%M.rep"},
        {"-r after -h is not looked at", {"-h", "-r", "x"}, "", builtIn},
        {"options after the failing one are not looked at", {"-q", "-r", "x"}, prog + ": invalid option -- 'q'\n",
         builtIn},
    };
    for (const UsageCase& c : cases) {
        SCOPED_TRACE(c.name);
        RunResult r = RunReferee(c.args, NoDisplay());
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, c.getoptLine + UsageText(c.replayDefault));
    }
}

TEST(Cli, LogLevelNames) {
    struct Case {
        const char* level;
        bool known;
    } cases[] = {{"DBG", true},  {"INFO", true},    {"WARN", true},  {"ERR", true}, {"ASSERT", true},
                 {"NONE", true}, {"dbg", false},    {"DEBUG", false}, {"", false},   {"INFO ", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.level);
        RunResult r = RunReferee({"-l", c.level, "a", "b"}, NoDisplay());
        if (c.known) {
            // A known level lets start-up go on to the next check: the missing map.
            EXPECT_EQ(r.exitCode, 255);
            EXPECT_EQ(r.err, "Map file is not specified.\n");
        } else {
            EXPECT_EQ(r.exitCode, 255);
            EXPECT_EQ(r.err, std::string("Unknown log level:") + c.level +
                                 ", must be:[DBG|INFO|WARN|ERR|ASSERT|NONE]\n");
        }
    }
}

TEST(Cli, MissingMapIsReportedOnlyWithTwoProgramPaths) {
    RunResult r = RunReferee({"-f", "a", "b"}, NoDisplay());
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_EQ(r.err, "Map file is not specified.\n");
    EXPECT_EQ(r.out, "");
}

TEST(Cli, OptionsAfterTheProgramPathsAreParsed) {
    // -s takes a text and has no effect; -l NONE after the paths silences the
    // log, so only the result line of the failed start remains.
    RunResult r = RunReferee({"./no-such-player-1", "./no-such-player-2", "-s", "x", "-m",
                              SOURCE_DIR "/tests/maps/game_empty.txt", "-l", "NONE"},
                             NoDisplay());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "{\"status\":\"Runtime error.\",\"score\":[0,1000000]}\n");
    EXPECT_EQ(r.err.find('['), std::string::npos) << r.err;
}

TEST(Cli, PosixlyCorrectStopsAtTheFirstProgramPath) {
    RunOptions options = NoDisplay();
    options.unsetEnv = {"DISPLAY"};
    options.extraEnv = {"POSIXLY_CORRECT=1"};
    RunResult r = RunReferee({"a", "b", "-m", "map.txt"}, options);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, UsageText());
}

TEST(Cli, LogLinesNameTheSourceRelativelyWithQualifiedFunction) {
    RunResult r = RunReferee({"-m", SOURCE_DIR "/tests/maps/game_empty.txt", "./no-such-player-1", "b"}, NoDisplay());
    EXPECT_EQ(r.exitCode, 0);
    std::regex line(R"(\[INFO\]Robot/Game\.cpp:\d+\|Game::Init\|frame\[1\]\|Loaded workbench : 0\n)");
    EXPECT_TRUE(std::regex_search(r.err, line)) << r.err;
    std::regex runErr(R"(\[ERR\]Robot/Game\.cpp:\d+\|Game::Run\|frame\[1\]\|Run \./no-such-player-1 err\.\n)");
    EXPECT_TRUE(std::regex_search(r.err, runErr)) << r.err;
}

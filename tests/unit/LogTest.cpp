// The log line's prefix and the level filter.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "Log.h"

namespace {

struct NameCase {
    const char* pretty;
    const char* qualified;
};

void LogFromAFreeFunction() { LOG_WARN("free %d\n", 7); }

struct Widget {
    static void Report() { LOG_ERR("member %s\n", "text"); }
    void Check(int v) const { SOFT_ASSERT(v > 10); }
};

// One line whose message is count letters "q".
void LogLetters(size_t count) { LOG_ERR("%s\n", std::string(count, 'q').c_str()); }

std::string Captured(void (*fn)()) {
    testing::internal::CaptureStderr();
    fn();
    return testing::internal::GetCapturedStderr();
}

size_t CountLines(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

}  // namespace

TEST(Log, QualifiedFunctionNames) {
    const NameCase cases[] = {
        {"int Game::Run(int, char**)", "Game::Run"},
        {"static void Robot::RadarThreadProc(Robot*)", "Robot::RadarThreadProc"},
        {"std::vector<float> Map::ScanRadar(b2Vec2, float, const std::vector<RadarObstacle>&) const", "Map::ScanRadar"},
        {"std::map<int, std::basic_string<char> > Foo::Bar()", "Foo::Bar"},
        {"void user_write_data(png_structp, png_bytep, size_t)", "user_write_data"},
        {"int main(int, char**)", "main"},
        {"Workbench::Workbench(int, b2Vec2)", "Workbench::Workbench"},
        {"virtual void World::PostSolve(b2Contact*, const b2ContactImpulse*)", "World::PostSolve"},
    };
    for (const NameCase& c : cases) {
        char out[256];
        QualifiedFunctionName(c.pretty, out, sizeof out);
        EXPECT_STREQ(out, c.qualified) << c.pretty;
    }
}

TEST(Log, LinePrefixHasTagRelativePathLineFunctionAndFrame) {
    std::string err = Captured(LogFromAFreeFunction);
    const std::string prefix = "[WARN]tests/unit/LogTest.cpp:";
    ASSERT_EQ(err.compare(0, prefix.size(), prefix), 0) << err;
    EXPECT_NE(err.find("|LogFromAFreeFunction|frame[1]|free 7\n"), std::string::npos) << err;

    err = Captured(&Widget::Report);
    EXPECT_NE(err.find("]tests/unit/LogTest.cpp:"), std::string::npos) << err;
    EXPECT_NE(err.find("|Widget::Report|frame[1]|member text\n"), std::string::npos) << err;
}

// Lines around the size that a line takes without a buffer of its own, and
// far beyond it: each whole with its line feed, and the next on its own line.
TEST(Log, LinesOfAnyLengthAreWhole) {
    testing::internal::CaptureStderr();
    LogLetters(0);
    const std::string emptyLine = testing::internal::GetCapturedStderr();
    ASSERT_EQ(emptyLine.back(), '\n');
    const size_t prefixLen = emptyLine.size() - 1;
    for (size_t lineLen : {8190u, 8191u, 8192u, 8193u, 8194u, 20000u, 1000000u}) {
        testing::internal::CaptureStderr();
        LogLetters(lineLen - prefixLen - 1);
        LogLetters(0);
        const std::string err = testing::internal::GetCapturedStderr();
        const std::string expected =
            emptyLine.substr(0, prefixLen) + std::string(lineLen - prefixLen - 1, 'q') + "\n" + emptyLine;
        EXPECT_TRUE(err == expected) << lineLen << "-byte line: " << err.size() << " bytes written, "
                                     << CountLines(err) << " lines, not " << expected.size() << " and 2";
    }
}

TEST(Log, SoftAssertLogsTheExpressionAndGoesOn) {
    testing::internal::CaptureStderr();
    Widget().Check(3);
    Widget().Check(30);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("[ASSERT]"), 0u) << err;
    EXPECT_NE(err.find("|Widget::Check|frame[1]|assert \"v > 10\" failed\n"), std::string::npos) << err;
    EXPECT_EQ(err.find("[ASSERT]", 1), std::string::npos) << "only the failing check logs";
}

TEST(Log, LevelFiltersLines) {
    const int saved = g_logLevel;
    struct Case {
        int level;
        bool warnShown;
        bool errShown;
    } cases[] = {{LOG_LEVEL_NONE, false, false}, {LOG_LEVEL_ASSERT, false, false}, {LOG_LEVEL_ERR, false, true},
                 {LOG_LEVEL_WARN, true, true},   {LOG_LEVEL_DBG, true, true}};
    for (const Case& c : cases) {
        g_logLevel = c.level;
        EXPECT_EQ(!Captured(LogFromAFreeFunction).empty(), c.warnShown) << c.level;
        EXPECT_EQ(!Captured(&Widget::Report).empty(), c.errShown) << c.level;
    }
    g_logLevel = saved;
}

TEST(Log, LevelNames) {
    EXPECT_EQ(LogLevelFromName("DBG"), 5);
    EXPECT_EQ(LogLevelFromName("INFO"), 4);
    EXPECT_EQ(LogLevelFromName("WARN"), 3);
    EXPECT_EQ(LogLevelFromName("ERR"), 2);
    EXPECT_EQ(LogLevelFromName("ASSERT"), 1);
    EXPECT_EQ(LogLevelFromName("NONE"), 0);
    EXPECT_EQ(LogLevelFromName("dbg"), -1);
    EXPECT_EQ(LogLevelFromName("DEBUG"), -1);
}

TEST(Log, HardAssertStopsTheProgram) {
    EXPECT_DEATH(HARD_ASSERT(1 + 1 == 3), "1 \\+ 1 == 3");
}

// Map loading: the file's faults with their messages, and the geometry built
// from a valid map (cell centres, the outline's edge segments).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "Log.h"
#include "Map.h"
#include "RunProcess.h"

namespace {

// A map as 100 rows of 100 characters, all floor unless set.
struct MapText {
    std::vector<std::string> rows = std::vector<std::string>(100, std::string(100, '.'));

    MapText& Set(int row, int col, char c) {
        rows[row][col] = c;
        return *this;
    }
    // The file contents with the given line end after every row.
    std::string Text(const std::string& lineEnd = "\n") const {
        std::string text;
        for (const std::string& row : rows) text += row + lineEnd;
        return text;
    }
    std::vector<std::vector<char>> Rows() const {
        std::vector<std::vector<char>> out;
        for (const std::string& row : rows) out.emplace_back(row.begin(), row.end());
        return out;
    }
};

std::string TempDir() {
    static const std::string dir = MakeTempDir("map-test");
    return dir;
}

// The fixture files go when the tests are done.
class TempDirCleanup : public testing::Environment {
public:
    void TearDown() override { std::filesystem::remove_all(TempDir()); }
};
testing::Environment* const g_tempDirCleanup = testing::AddGlobalTestEnvironment(new TempDirCleanup);

std::string WriteMapFile(const std::string& name, const std::string& contents) {
    const std::string path = TempDir() + "/" + name + ".txt";
    WriteFile(path, contents);
    return path;
}

// Loads the file through the path form; the text logged meanwhile.
bool LoadFile(Map& map, const std::string& path, std::string& log) {
    testing::internal::CaptureStderr();
    const bool ok = map.Load(path);
    log = testing::internal::GetCapturedStderr();
    return ok;
}

// The one line that Map::Load logs for a fault.
std::string ErrLinePattern(const std::string& message) {
    std::string escaped;
    for (char c : message) {
        if (strchr("\\^$.|?*+()[]{}", c) != nullptr && c != '\0') escaped += '\\';
        escaped += c;
    }
    return R"(\[ERR\]Robot/Map\.cpp:\d+\|Map::Load\|frame\[1\]\|)" + escaped;
}

void ExpectErrLine(const std::string& log, const std::string& message) {
    EXPECT_TRUE(std::regex_match(log, std::regex(ErrLinePattern(message)))) << "log: [" << log << "]";
}

std::string Repeat(char c, size_t n) { return std::string(n, c); }

// The robot-space fault's message for a cell counted from 1.
std::string RobotSpaceMsg(int row, int col) {
    return "Check robot pos err, there's not enough space at map file[row:" + std::to_string(row) +
           ", col:" + std::to_string(col) + "]\n";
}

MapText WithRobots() {
    MapText m;
    m.Set(10, 10, 'A').Set(10, 20, 'A').Set(10, 30, 'A').Set(10, 40, 'A');
    m.Set(80, 10, 'B').Set(80, 20, 'B').Set(80, 30, 'B').Set(80, 40, 'B');
    return m;
}

MapText WithWorkbenches(int count) {
    MapText m = WithRobots();
    for (int i = 0; i < count; ++i) m.Set(30 + i / 25 * 2, 10 + (i % 25) * 2, "123456789abcdefghi"[i % 18]);
    return m;
}

struct LoadCase {
    const char* name;
    std::string contents;
    std::string message;  // empty: the load succeeds
};

std::vector<LoadCase> LoadCases() {
    const std::string good = WithRobots().Text();
    const std::string line = Repeat('.', 100) + "\n";
    std::string lines99;
    for (int i = 0; i < 99; ++i) lines99 += line;

    MapText shortLine = WithRobots();
    shortLine.rows[4].pop_back();  // 99 characters and the line feed

    MapText nulByte = WithRobots();
    nulByte.rows[6][50] = '\0';
    MapText nulAfter100 = WithRobots();
    nulAfter100.rows[6] += std::string("..\0..", 5);

    MapText longLine = WithRobots();
    longLine.rows[2] = Repeat('.', 1023);  // its line feed is read as line 4
    MapText longLine1122 = WithRobots();
    longLine1122.rows[2] = Repeat('.', 1122);  // the rest is 99 characters and the line feed
    MapText longLine1123 = WithRobots();
    longLine1123.rows[2] = Repeat('.', 1123);  // the rest makes a valid line; line 100 is never read

    MapText crlfShort = WithRobots();
    crlfShort.rows[1].pop_back();
    MapText loneCr = WithRobots();
    loneCr.rows[1] = Repeat('.', 99) + "\r.";

    MapText binary = WithRobots();
    for (int c = 0; c < 100; ++c) binary.rows[20][c] = static_cast<char>(0x80 + c);
    MapText highByte = WithRobots();
    highByte.rows[20][7] = static_cast<char>(0xFF);

    std::string lastLine100 = good.substr(0, good.size() - 1);
    std::string lastLine99 = good.substr(0, good.size() - 2);

    MapText nextToWorkbench = WithRobots();
    nextToWorkbench.Set(11, 11, '1').Set(9, 9, 'a').Set(10, 21, '9');
    MapText threeAndFive = MapText();
    threeAndFive.Set(10, 10, 'A').Set(10, 20, 'A').Set(10, 30, 'A');
    for (int i = 0; i < 5; ++i) threeAndFive.Set(50, 10 + 10 * i, 'B');

    MapText unknownNextToRobot = WithRobots();
    unknownNextToRobot.Set(10, 11, 'x');
    MapText robotThenUnknown = WithRobots();
    robotThenUnknown.Set(5, 0, 'A').Set(5, 3, 'x');
    MapText unknownThenRobot = WithRobots();
    unknownThenRobot.Set(5, 5, 'x').Set(6, 0, 'B');
    MapText tooManyThenUnknown = WithWorkbenches(51);
    tooManyThenUnknown.Set(99, 99, 'j');

    return {
        {"EmptyFile", "", "Read map file err at line : 1\n"},
        {"NinetyNineLines", lines99, "Read map file err at line : 100\n"},
        {"LineOf99CharsMakesItsLineFeedColumn100", shortLine.Text(), "Unknown character :'\n' at map file[5:100]\n"},
        {"LastLineOf100CharsWithoutLineEnd", lastLine100, ""},
        {"LastLineOf99CharsWithoutLineEnd", lastLine99, "Read map file err at line : 100\n"},
        {"NulByteShortensTheLine", nulByte.Text(), "Read map file err at line : 7\n"},
        {"NulByteAfterColumn100IsIgnored", nulAfter100.Text(), ""},
        {"LineOf1023CharsLeavesItsLineFeedForTheNextLine", longLine.Text(), "Read map file err at line : 4\n"},
        {"LineOf1122CharsMakesTwoLines", longLine1122.Text(), "Unknown character :'\n' at map file[4:100]\n"},
        {"LineOf1123CharsMakesTwoValidLines", longLine1123.Text(), ""},
        {"CrLfLineEnds", WithRobots().Text("\r\n"), ""},
        {"CrLfAfter99Chars", crlfShort.Text("\r\n"), "Unknown character :'\n' at map file[2:100]\n"},
        {"LoneCrIsAnUnknownCharacter", loneCr.Text(), "Unknown character :'\r' at map file[2:100]\n"},
        {"CharactersAfterColumn100AndLinesAfter100AreIgnored",
         [] {
             MapText m = WithRobots();
             for (std::string& row : m.rows) row += "xyz#A\x01";
             return m.Text() + "garbage\n\0\0\n";
         }(),
         ""},
        {"UnknownCharacter", WithRobots().Set(10, 20, 'x').Text(), "Unknown character :'x' at map file[11:21]\n"},
        {"BinaryBytes", binary.Text(), std::string("Unknown character :'\x80' at map file[21:1]\n")},
        {"HighByte", highByte.Text(), std::string("Unknown character :'\xFF' at map file[21:8]\n")},
        {"RobotInTopRow", WithRobots().Set(0, 50, 'A').Text(), RobotSpaceMsg(1, 51)},
        {"RobotInBottomRow", WithRobots().Set(99, 50, 'B').Text(), RobotSpaceMsg(100, 51)},
        {"RobotInLeftColumn", WithRobots().Set(50, 0, 'A').Text(), RobotSpaceMsg(51, 1)},
        {"RobotInRightColumn", WithRobots().Set(50, 99, 'B').Text(), RobotSpaceMsg(51, 100)},
        {"RobotDiagonalToObstacle", WithRobots().Set(81, 41, '#').Text(), RobotSpaceMsg(81, 41)},
        {"RobotNextToRobotReportsTheFirst", WithRobots().Set(10, 41, 'B').Text(), RobotSpaceMsg(11, 41)},
        {"RobotDiagonalToRobot", WithRobots().Set(9, 21, 'A').Text(), RobotSpaceMsg(10, 22)},
        {"RobotNextToWorkbenchPasses", nextToWorkbench.Text(), ""},
        {"RobotCountIsNotChecked", threeAndFive.Text(), ""},
        {"UnknownCharacterNextToRobotIsReportedWhenReached", unknownNextToRobot.Text(),
         "Unknown character :'x' at map file[11:12]\n"},
        {"FiftyWorkbenches", WithWorkbenches(50).Text(), ""},
        {"FiftyOneWorkbenches", WithWorkbenches(51).Text(), "Check workbenchNums(51) <= 50 err.\n"},
        {"RobotFaultBeforeUnknownCharacter", robotThenUnknown.Text(), RobotSpaceMsg(6, 1)},
        {"UnknownCharacterBeforeRobotFault", unknownThenRobot.Text(), "Unknown character :'x' at map file[6:6]\n"},
        {"UnknownCharacterBeforeWorkbenchCount", tooManyThenUnknown.Text(),
         "Unknown character :'j' at map file[100:100]\n"},
    };
}

}  // namespace

TEST(MapLoad, FileFaultsAreReportedInScanOrder) {
    for (const LoadCase& c : LoadCases()) {
        SCOPED_TRACE(c.name);
        Map map;
        std::string log;
        const bool ok = LoadFile(map, WriteMapFile(c.name, c.contents), log);
        if (c.message.empty()) {
            EXPECT_TRUE(ok);
            EXPECT_EQ(log, "");
        } else {
            EXPECT_FALSE(ok);
            ExpectErrLine(log, c.message);
        }
    }
}

TEST(MapLoad, MissingFileNamesThePathAndTheSystemError) {
    Map map;
    std::string log;
    const std::string path = TempDir() + "/no-such-map.txt";
    EXPECT_FALSE(LoadFile(map, path, log));
    ExpectErrLine(log, "Can not open:" + path + ", err:No such file or directory\n");
}

TEST(MapLoad, FaultsFailSilentlyBelowTheErrLevel) {
    const int saved = g_logLevel;
    g_logLevel = LOG_LEVEL_ASSERT;
    Map map;
    std::string log;
    const bool ok = LoadFile(map, WriteMapFile("silent", WithRobots().Set(3, 3, '?').Text()), log);
    g_logLevel = saved;
    EXPECT_FALSE(ok);
    EXPECT_EQ(log, "");
}

TEST(MapLoad, RowsAreKeptAsRead) {
    MapText text = WithRobots();
    text.Set(0, 0, '#').Set(99, 99, 'i').Set(50, 50, '5');
    for (std::string& row : text.rows) row += "extra";
    Map map;
    std::string log;
    ASSERT_TRUE(LoadFile(map, WriteMapFile("kept", text.Text("\r\n")), log)) << log;
    const auto& data = map.GetMapData();
    ASSERT_EQ(data.size(), 100u);
    for (int r = 0; r < 100; ++r) {
        ASSERT_EQ(data[r].size(), 100u);
        EXPECT_EQ(std::string(data[r].begin(), data[r].end()), text.rows[r].substr(0, 100)) << "row " << r;
    }
    EXPECT_EQ(map.GetWidth(), 100);
    EXPECT_EQ(map.GetHeight(), 100);
    EXPECT_EQ(map.GetGridSize(), 0.5f);
}

TEST(MapLoad, RowsFormStopsOnAnythingButOneHundredRows) {
    std::vector<std::vector<char>> rows = MapText().Rows();
    rows.pop_back();
    EXPECT_DEATH(Map().Load(rows), "m_mapData\\.size\\(\\) == MAP_FILE_ROW_NUMS");
}

TEST(MapLoad, ShouldBeTrueWritesItsMessageAndStops) {
    ShouldBeTrue(true, "not shown");
    EXPECT_DEATH(ShouldBeTrue(false, "grid height is not same with width"),
                 "^grid height is not same with width\n.*should_be_true");
}

TEST(MapLoad, PiIsTheDoubleArcCosineOfMinusOne) { EXPECT_EQ(PI, std::acos(-1.0)); }

// The referee ends its start-up with exit code -1 on a map fault.
TEST(MapLoad, RefereeStopsOnABadMap) {
    RunOptions options;
    options.unsetEnv = {"DISPLAY"};
    options.timeoutSeconds = 20;
    const std::string path = WriteMapFile("referee", WithRobots().Set(99, 0, 'A').Text());
    RunResult r = RunReferee({"-m", path, "a", "b"}, options);
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_TRUE(std::regex_search(r.err, std::regex(ErrLinePattern(RobotSpaceMsg(100, 1))))) << r.err;
    EXPECT_EQ(r.out, "");
}

// ------------------------------------------------------------ geometry

namespace {

std::vector<MapSegment> Borders() { return {{0, 0, 100, 0}, {100, 0, 100, 100}, {100, 100, 0, 100}, {0, 100, 0, 0}}; }

std::string Str(const std::vector<MapSegment>& segs) {
    std::string out;
    for (const MapSegment& s : segs) {
        out += "(" + std::to_string(s.x1) + "," + std::to_string(s.y1) + ")-(" + std::to_string(s.x2) + "," +
               std::to_string(s.y2) + ") ";
    }
    return out;
}

Map LoadRows(const MapText& text) {
    Map map;
    std::vector<std::vector<char>> rows = text.Rows();
    EXPECT_TRUE(map.Load(rows));
    return map;
}

struct GeometryCase {
    const char* name;
    std::vector<std::pair<int, int>> obstacles;  // (row, col)
    std::vector<MapSegment> edges;               // after the borders
};

}  // namespace

TEST(MapGeometry, ObstacleEdgesInOrder) {
    const std::vector<GeometryCase> cases = {
        {"NoObstacles", {}, {}},
        // Row 10 is y 89..90 from the bottom: bottom, top, left, right.
        {"OneCell", {{10, 20}}, {{20, 89, 21, 89}, {20, 90, 21, 90}, {20, 89, 20, 90}, {21, 89, 21, 90}}},
        {"CellsTouchingAtACorner",
         {{10, 20}, {11, 21}},
         {{21, 88, 22, 88}, {20, 89, 22, 89}, {20, 90, 21, 90}, {20, 89, 20, 90}, {21, 88, 21, 90}, {22, 88, 22, 89}}},
        {"RowZeroLiesOnTheTopBorder", {{0, 5}}, {{5, 99, 6, 99}, {5, 100, 6, 100}, {5, 99, 5, 100}, {6, 99, 6, 100}}},
        {"BottomLeftCorner", {{99, 0}}, {{0, 0, 1, 0}, {0, 1, 1, 1}, {0, 0, 0, 1}, {1, 0, 1, 1}}},
        {"GapSplitsARun",
         {{10, 20}, {10, 22}},
         {{20, 89, 21, 89}, {22, 89, 23, 89}, {20, 90, 21, 90}, {22, 90, 23, 90}, {20, 89, 20, 90}, {21, 89, 21, 90},
          {22, 89, 22, 90}, {23, 89, 23, 90}}},
        {"BlockHasOnlyItsOutline",
         {{10, 20}, {10, 21}, {11, 20}, {11, 21}},
         {{20, 88, 22, 88}, {20, 90, 22, 90}, {20, 88, 20, 90}, {22, 88, 22, 90}}},
        // A U shape: the inner run along y 89 and the outer bottom run are separate lines.
        {"UShape",
         {{10, 20}, {11, 20}, {11, 21}, {11, 22}, {10, 22}},
         {{20, 88, 23, 88}, {21, 89, 22, 89}, {20, 90, 21, 90}, {22, 90, 23, 90}, {20, 88, 20, 90}, {21, 89, 21, 90},
          {22, 89, 22, 90}, {23, 88, 23, 90}}},
    };
    for (const GeometryCase& c : cases) {
        SCOPED_TRACE(c.name);
        MapText text;
        for (const auto& [row, col] : c.obstacles) text.Set(row, col, '#');
        const Map map = LoadRows(text);
        std::vector<MapSegment> expected = Borders();
        expected.insert(expected.end(), c.edges.begin(), c.edges.end());
        EXPECT_EQ(Str(map.GetSegments()), Str(expected));
        ASSERT_EQ(map.GetSegLen().size(), map.GetSegments().size());
        for (size_t k = 0; k < expected.size(); ++k) {
            const MapSegment& s = expected[k];
            EXPECT_EQ(map.GetSegLen()[k], std::abs(s.x2 - s.x1) + std::abs(s.y2 - s.y1)) << "segment " << k;
        }
    }
}

TEST(MapGeometry, CellCentresAreExactQuarterMetres) {
    MapText text = WithRobots();
    text.Set(0, 0, '#').Set(99, 99, '#').Set(5, 70, '#').Set(50, 50, '3');
    const Map map = LoadRows(text);
    for (int r = 0; r < 100; ++r) {
        for (int c = 0; c < 100; ++c) {
            const b2Vec2 centre = map.GetCellCentre(r, c);
            ASSERT_EQ(centre.x, 0.25f + 0.5f * c) << r << "," << c;
            ASSERT_EQ(centre.y, 49.75f - 0.5f * r) << r << "," << c;
        }
    }
    EXPECT_EQ(map.GetGridSize(), 0.5f);
}

TEST(MapGeometry, PositionListsFollowScanOrder) {
    MapText text;
    text.Set(10, 30, 'A').Set(10, 10, 'A').Set(50, 5, 'A').Set(80, 80, 'A');
    text.Set(0, 0, '#').Set(99, 99, '#').Set(40, 60, '#');
    text.Set(20, 20, '7').Set(20, 60, 'g').Set(70, 1, '7');
    const Map map = LoadRows(text);
    auto centres = [](std::vector<std::pair<int, int>> cells) {
        std::vector<std::pair<float, float>> out;
        for (const auto& [r, c] : cells) out.emplace_back(0.25f + 0.5f * c, 49.75f - 0.5f * r);
        return out;
    };
    auto list = [&](char ch) {
        std::vector<std::pair<float, float>> out;
        for (const b2Vec2& p : map.GetPosList(ch)) out.emplace_back(p.x, p.y);
        return out;
    };
    EXPECT_EQ(list('A'), centres({{10, 10}, {10, 30}, {50, 5}, {80, 80}}));
    EXPECT_EQ(list('#'), centres({{0, 0}, {40, 60}, {99, 99}}));
    EXPECT_EQ(list('7'), centres({{20, 20}, {70, 1}}));
    EXPECT_EQ(list('g'), centres({{20, 60}}));
    EXPECT_EQ(map.GetPosList('.').size(), 10000u - 10u);
    EXPECT_TRUE(map.GetPosList('B').empty());
    EXPECT_TRUE(map.GetPosList(static_cast<char>(0xC8)).empty());
}

TEST(MapGeometry, ShippedMapsAreValid) {
    for (const char* name : {"demo", "dense", "empty"}) {
        SCOPED_TRACE(name);
        Map map;
        std::string log;
        ASSERT_TRUE(LoadFile(map, std::string(SOURCE_DIR "/maps/") + name + ".txt", log)) << log;
        EXPECT_EQ(map.GetPosList('A').size(), 4u);
        EXPECT_EQ(map.GetPosList('B').size(), 4u);
    }
}

// Replay files of real matches: the referee plays short matches between the
// replay test players, and the file it leaves is read back with the
// generated classes.
#include <gtest/gtest.h>
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "ReplayTestSupport.h"
#include "RunProcess.h"

namespace {

const std::string MAP_PATH = std::string(SOURCE_DIR) + "/tests/maps/replay_bands.txt";
const std::string IDLE = std::string(TESTPLAYER_DIR) + "/replay_idle";
const std::string DRIVE = std::string(TESTPLAYER_DIR) + "/replay_drive";

RunOptions MatchOptions(const std::string& workDir) {
    RunOptions options;
    options.workDir = workDir;
    options.unsetEnv = {"DISPLAY", "POSIXLY_CORRECT"};
    options.timeoutSeconds = 60;
    return options;
}

std::vector<std::string> DirEntries(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (!d) return names;
    while (dirent* e = readdir(d)) {
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
    }
    closedir(d);
    return names;
}

bool IsDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string LocalTimeText(time_t t) {
    struct tm local;
    localtime_r(&t, &local);
    char buf[64];
    strftime(buf, sizeof buf, "%Y-%m-%d.%H.%M.%S.rep", &local);
    return buf;
}

std::vector<std::string> MapRows() {
    std::vector<std::string> rows;
    const std::string text = ReadFile(MAP_PATH);
    size_t pos = 0;
    while (rows.size() < 100 && pos < text.size()) {
        const size_t end = text.find('\n', pos);
        rows.push_back(text.substr(pos, 100));
        pos = end == std::string::npos ? text.size() : end + 1;
    }
    return rows;
}

struct Cell {
    int row, col;
};

float CellX(int col) { return 0.5f * col + 0.25f; }
float CellY(int row) { return 49.75f - 0.5f * row; }

std::vector<Cell> CellsOf(const std::vector<std::string>& rows, char c) {
    std::vector<Cell> cells;
    for (int r = 0; r < static_cast<int>(rows.size()); ++r)
        for (int col = 0; col < static_cast<int>(rows[r].size()); ++col)
            if (rows[r][col] == c) cells.push_back({r, col});
    return cells;
}

struct ExpectedWorkbench {
    Cell cell;
    int type;
    int owner;
};

std::vector<ExpectedWorkbench> MapWorkbenches(const std::vector<std::string>& rows) {
    std::vector<ExpectedWorkbench> list[2];
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        for (int col = 0; col < static_cast<int>(rows[r].size()); ++col) {
            const char c = rows[r][col];
            if (c >= '1' && c <= '9') list[0].push_back({{r, col}, c - '0', 0});
            if (c >= 'a' && c <= 'i') list[1].push_back({{r, col}, c - 'a' + 1, 1});
        }
    }
    list[0].insert(list[0].end(), list[1].begin(), list[1].end());
    return list[0];
}

int NeedMask(int type) {
    static const int masks[10] = {0, 0, 0, 0, 6, 10, 12, 112, 128, 254};
    return masks[type];
}

// The workbench byte of a map workbench in frame f of a match in which nothing
// is traded (f < 50): types 1 to 3 in their first cycle, every other idle.
int IdleMatchWorkbenchByte(int type, int f) {
    if (type > 3) return 0xF0;
    return static_cast<int>(static_cast<float>(f) / 50.0f * 14.0f) << 4;
}

uint32_t FloatBits(float f) {
    uint32_t bits;
    memcpy(&bits, &f, sizeof bits);
    return bits;
}

// "YYYY-MM-DD.HH.MM.SS.rep", digits where the pattern has letters.
bool IsDefaultReplayName(const std::string& name) {
    const std::string shape = "0000-00-00.00.00.00.rep";
    if (name.size() != shape.size()) return false;
    for (size_t i = 0; i < shape.size(); ++i) {
        if (shape[i] == '0' ? !isdigit(static_cast<unsigned char>(name[i])) : name[i] != shape[i]) return false;
    }
    return true;
}

std::string OnlyReplayFile(const std::string& dir) {
    const std::vector<std::string> names = DirEntries(dir + "/replay");
    return names.size() == 1 ? names[0] : std::string();
}

// The explored cells of the match on replay_bands between idle robots: the
// band above the wall of row 4 is split by the walls of columns 30 and 60;
// the left part holds two robots of the first player, the right part two of
// the second, the middle two of each.  Nothing below row 4 can be seen.
void CheckBandsImage(const DecodedImage& image, const std::vector<std::string>& rows) {
    ASSERT_TRUE(image.ok);
    ASSERT_EQ(image.width, 100u);
    ASSERT_EQ(image.height, 100u);
    int firstLeft = 0, secondRight = 0, bothMiddle = 0;
    for (int r = 0; r < 100; ++r) {
        for (int c = 0; c < 100; ++c) {
            const Rgba p = image.At(r, c);
            if (r >= 4 || rows[r][c] == '#') {
                ASSERT_EQ(p, UNEXPLORED) << r << "," << c;
            } else if (c < 30) {
                ASSERT_TRUE(p == UNEXPLORED || p == FIRST_ONLY) << r << "," << c << " " << p;
                firstLeft += p == FIRST_ONLY;
            } else if (c > 60) {
                ASSERT_TRUE(p == UNEXPLORED || p == SECOND_ONLY) << r << "," << c << " " << p;
                secondRight += p == SECOND_ONLY;
            } else {
                bothMiddle += p == BOTH;
            }
        }
    }
    EXPECT_GT(firstLeft, 20);
    EXPECT_GT(secondRight, 20);
    EXPECT_GT(bothMiddle, 20);
    // A robot's body covers its own cell, so the other player's beams never
    // reach it: each start cell has its own player's colour only.
    for (const Cell& cell : CellsOf(rows, 'A')) EXPECT_EQ(image.At(cell.row, cell.col), FIRST_ONLY);
    for (const Cell& cell : CellsOf(rows, 'B')) EXPECT_EQ(image.At(cell.row, cell.col), SECOND_ONLY);
}

void CheckHeader(const ReplayFile& replay, const std::vector<std::string>& rows, const std::string& name1,
                 const std::string& name2) {
    const replay_protocol::Rep& h = replay.header;
    ASSERT_EQ(h.map_str_size(), 100);
    for (int r = 0; r < 100; ++r) EXPECT_EQ(h.map_str(r), rows[r]) << "row " << r;
    EXPECT_EQ(h.map_height(), 50.0f);
    EXPECT_EQ(h.map_width(), 50.0f);
    EXPECT_EQ(h.num_of_players(), 2);
    ASSERT_EQ(h.player_names_size(), 2);
    EXPECT_EQ(h.player_names(0), name1);
    EXPECT_EQ(h.player_names(1), name2);
    // The fixed fields stand together after the map rows on the wire.
    EXPECT_NE(replay.headerBytes.find(std::string("\x15\x00\x00\x48\x42\x1D\x00\x00\x48\x42\x20\x02", 12)),
              std::string::npos);
    const std::vector<ExpectedWorkbench> wbs = MapWorkbenches(rows);
    ASSERT_EQ(h.workbenchs_size(), static_cast<int>(wbs.size()));
    for (int i = 0; i < h.workbenchs_size(); ++i) {
        const replay_protocol::Workbench& w = h.workbenchs(i);
        EXPECT_TRUE(w.has_pos()) << i;
        EXPECT_EQ(w.pos().x(), CellX(wbs[i].cell.col)) << i;
        EXPECT_EQ(w.pos().y(), CellY(wbs[i].cell.row)) << i;
        EXPECT_EQ(w.product_id(), wbs[i].type) << i;
        EXPECT_EQ(w.material_bits(), NeedMask(wbs[i].type)) << i;
        EXPECT_EQ(w.owner(), wbs[i].owner) << i;
    }
}

void CheckRobotsAtStart(const replay_protocol::Player& player, const std::vector<Cell>& starts, int f) {
    ASSERT_EQ(player.robots_size(), 4) << "frame " << f;
    for (int id = 0; id < 4; ++id) {
        const replay_protocol::Robot& robot = player.robots(id);
        EXPECT_TRUE(robot.has_pos());
        EXPECT_EQ(robot.pos().x(), CellX(starts[id].col)) << "frame " << f << " robot " << id;
        EXPECT_EQ(robot.pos().y(), CellY(starts[id].row)) << "frame " << f << " robot " << id;
        EXPECT_EQ(FloatBits(robot.radian()), 0u);
        EXPECT_EQ(robot.carry_id(), 0);
        EXPECT_EQ(robot.value_rate(), 0.0f);
    }
}

}  // namespace

// Matches between idle players that the first player ends with a malformed
// answer at frame `last`; the default pattern names the file by the time.
TEST(ReplayFile, RealMatchReadsBack) {
    const std::vector<std::string> rows = MapRows();
    ASSERT_EQ(rows.size(), 100u);
    const std::vector<ExpectedWorkbench> wbs = MapWorkbenches(rows);
    const std::vector<Cell> starts[2] = {CellsOf(rows, 'A'), CellsOf(rows, 'B')};
    for (const int last : {1, 30}) {
        SCOPED_TRACE("match ending at frame " + std::to_string(last));
        const std::string dir = MakeTempDir("replay-match");
        const time_t before = time(nullptr);
        const RunResult run = RunReferee(
            {"-d", "-f", "-m", MAP_PATH, "-n", "alpha", "-N", "beta", IDLE + " " + std::to_string(last), IDLE},
            MatchOptions(dir));
        const time_t after = time(nullptr);
        ASSERT_FALSE(run.timedOut) << run.err;
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out, "{\"status\":\"Output format error.\",\"score\":[0,1000000]}\n");
        EXPECT_EQ(CountOccurrences(run.err, "g_PNGDataLen"), 0) << run.err;  // frame 1 already has an image

        const std::string name = OnlyReplayFile(dir);
        ASSERT_TRUE(IsDefaultReplayName(name)) << name;
        EXPECT_GE(name, LocalTimeText(before));
        EXPECT_LE(name, LocalTimeText(after));

        const ReplayFile replay = ReadReplay(ReadFile(dir + "/replay/" + name));
        ASSERT_EQ(replay.error, "");
        CheckHeader(replay, rows, "alpha", "beta");
        ASSERT_EQ(replay.frames.size(), static_cast<size_t>(last));

        std::string firstImage;
        for (int f = 1; f <= last; ++f) {
            SCOPED_TRACE("frame " + std::to_string(f));
            const replay_protocol::Frame& frame = replay.frames[f - 1];
            EXPECT_EQ(frame.frame_id(), f);
            ASSERT_EQ(frame.players_size(), 2);
            const bool end = f == last;
            EXPECT_EQ(frame.players(0).money(), end ? 0 : 200000);
            EXPECT_EQ(frame.players(1).money(), end ? 1000000 : 200000);
            // The first player's last answer was malformed and not counted.
            EXPECT_EQ(frame.players(0).skipped_frames(), end ? 1 : 0);
            EXPECT_EQ(frame.players(1).skipped_frames(), 0);
            for (int p = 0; p < 2; ++p) CheckRobotsAtStart(frame.players(p), starts[p], f);
            std::string bytes;
            for (const ExpectedWorkbench& wb : wbs) bytes.push_back(static_cast<char>(IdleMatchWorkbenchByte(wb.type, f)));
            EXPECT_EQ(frame.workbench_frame(), bytes);
            // Idle robots see everything in frame 1; later only every 16th
            // frame repeats the image.
            if (f == 1) {
                firstImage = frame.shadow_png();
                CheckBandsImage(DecodePng(firstImage), rows);
            } else if (f % 16 == 0) {
                EXPECT_EQ(frame.shadow_png(), firstImage);
            } else {
                EXPECT_EQ(frame.shadow_png(), "");
            }
        }
    }
}

// A name that is not UTF-8 is written unchanged; the protobuf library logs
// the field.  (Readers that check UTF-8 on parsing refuse such a header.)
TEST(ReplayFile, NameThatIsNotUtf8IsWrittenUnchanged) {
    const std::string dir = MakeTempDir("replay-name");
    const std::string badName("b\xff" "eta", 5);
    const RunResult run = RunReferee({"-d", "-f", "-m", MAP_PATH, "-r", "match.rep", "-n", "alpha", "-N", badName,
                                      IDLE + " 1", IDLE},
                                     MatchOptions(dir));
    ASSERT_FALSE(run.timedOut);
    EXPECT_NE(run.err.find("replay_protocol.Rep.player_names"), std::string::npos) << run.err;
    const std::string file = ReadFile(dir + "/match.rep");
    EXPECT_NE(file.find(std::string("\x2A\x05" "alpha\x2A\x05" "b\xff" "eta", 14)), std::string::npos);
}

TEST(ReplayFile, NoReplayWhenAProgramCannotStart) {
    struct Case {
        const char* name;
        std::string first, second;
        std::string result;
    };
    const Case cases[] = {
        {"first program missing", "/nonexistent/player", IDLE,
         "{\"status\":\"Runtime error.\",\"score\":[0,1000000]}\n"},
        {"second program missing", IDLE, "/nonexistent/player",
         "{\"status\":\"Runtime error.\",\"score\":[1000000,0]}\n"},
    };
    for (const Case& c : cases) {
        const std::string dir = MakeTempDir("replay-nostart");
        const RunResult run = RunReferee({"-f", "-m", MAP_PATH, c.first, c.second}, MatchOptions(dir));
        ASSERT_FALSE(run.timedOut) << c.name;
        EXPECT_EQ(run.exitCode, 0) << c.name;
        EXPECT_EQ(run.out, c.result) << c.name << "\n" << run.err;
        EXPECT_TRUE(DirEntries(dir).empty()) << c.name << ": the working directory is not left empty";
    }
}

TEST(ReplayFile, PatternsOfOption_r) {
    struct Case {
        const char* name;
        std::string pattern;
        std::string file;   // the file that must exist afterwards, empty for none
        std::string error;  // the ERR message that must be logged, empty for none
    };
    const std::string longPattern = [] {
        std::string s;
        for (int i = 0; i < 600; ++i) s += "%Y";
        return s;
    }();
    const Case cases[] = {
        {"own name in the working directory", "match.%%.rep", "match.%.rep", ""},
        {"directory that does not exist", "nodir/%%x.rep", "",
         "Can not create file:nodir/%x.rep, error:No such file or directory\n"},
        {"expansion longer than the name buffer", longPattern, "",
         "Can not create file:" + longPattern + ", error:File name too long\n"},
    };
    for (const Case& c : cases) {
        const std::string dir = MakeTempDir("replay-pattern");
        const RunResult run =
            RunReferee({"-d", "-f", "-l", "DBG", "-m", MAP_PATH, "-r", c.pattern, IDLE + " 3", IDLE}, MatchOptions(dir));
        ASSERT_FALSE(run.timedOut) << c.name;
        EXPECT_EQ(run.exitCode, 0) << c.name;
        EXPECT_EQ(run.out, "{\"status\":\"Output format error.\",\"score\":[0,1000000]}\n") << c.name;
        // "replay" is made whatever the pattern names, and stays empty here.
        EXPECT_TRUE(IsDirectory(dir + "/replay")) << c.name;
        EXPECT_TRUE(DirEntries(dir + "/replay").empty()) << c.name;
        std::vector<std::string> expectedEntries = {"replay"};
        if (!c.file.empty()) expectedEntries.push_back(c.file);
        std::vector<std::string> entries = DirEntries(dir);
        std::sort(entries.begin(), entries.end());
        std::sort(expectedEntries.begin(), expectedEntries.end());
        EXPECT_EQ(entries, expectedEntries) << c.name;
        if (c.error.empty()) {
            const ReplayFile replay = ReadReplay(ReadFile(dir + "/" + c.file));
            EXPECT_EQ(replay.error, "") << c.name;
            EXPECT_EQ(replay.frames.size(), 3u) << c.name;
            EXPECT_EQ(CountOccurrences(run.err, "|Game::WriteToReplay|frame[3]|Write 3 frames to replay file.\n"), 1)
                << c.name << "\n" << run.err;
        } else {
            EXPECT_EQ(CountOccurrences(run.err, "[ERR]Robot/Game.cpp:"), 1) << c.name << "\n" << run.err;
            EXPECT_EQ(CountOccurrences(run.err, "|Game::WriteToReplay|frame[3]|" + c.error), 1)
                << c.name << "\n" << run.err;
            EXPECT_EQ(CountOccurrences(run.err, "Write 3 frames"), 0) << c.name;
        }
    }
}

// A trading player against moving, colliding robots, in debug and fast mode:
// the replay depends on nothing but the match.
TEST(ReplayFile, SameMatchGivesTheSameBytes) {
    const std::string trader = std::string(PLAYER_DIR) + "/trader";
    const std::string demoMap = std::string(SOURCE_DIR) + "/maps/demo.txt";
    std::string contents[2];
    for (std::string& content : contents) {
        const std::string dir = MakeTempDir("replay-determinism");
        const RunResult run =
            RunReferee({"-d", "-f", "-m", demoMap, "-r", "match.rep", trader, DRIVE + " 200"}, MatchOptions(dir));
        ASSERT_FALSE(run.timedOut);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out, "{\"status\":\"Output format error.\",\"score\":[1000000,0]}\n");
        content = ReadFile(dir + "/match.rep");
    }
    ASSERT_EQ(contents[0].size(), contents[1].size());
    EXPECT_TRUE(contents[0] == contents[1]);

    // The match is worth comparing: robots turned, carried products whose
    // value had dropped, money changed, and new cells were seen after frame 1.
    const ReplayFile replay = ReadReplay(contents[0]);
    ASSERT_EQ(replay.error, "");
    ASSERT_EQ(replay.frames.size(), 200u);
    int turned = 0, carried = 0, worn = 0, images = 0;
    for (const replay_protocol::Frame& frame : replay.frames) {
        for (const replay_protocol::Player& player : frame.players()) {
            for (const replay_protocol::Robot& robot : player.robots()) {
                turned += robot.radian() != 0.0f;
                carried += robot.carry_id() != 0;
                worn += robot.value_rate() > 0.0f && robot.value_rate() < 1.0f;
            }
        }
        images += frame.frame_id() % 16 != 0 && !frame.shadow_png().empty();
    }
    EXPECT_GT(turned, 100);
    EXPECT_GT(carried, 100);
    EXPECT_GT(worn, 100);
    EXPECT_GT(images, 1);
    EXPECT_NE(replay.frames[198].players(0).money(), 200000);

    // Each frame's bytes are those of its message, and each image shows at
    // least the cells of the one before: every 16th frame the latest image
    // again unless new cells were seen, in between a new one only then.
    std::string latest;
    for (size_t i = 0; i < replay.frames.size(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(i + 1));
        const replay_protocol::Frame& frame = replay.frames[i];
        EXPECT_TRUE(frame.SerializeAsString() == replay.frameBytes[i]);
        if (frame.shadow_png().empty() || frame.shadow_png() == latest) {
            EXPECT_TRUE(frame.shadow_png().empty() || frame.frame_id() % 16 == 0);
            continue;
        }
        if (latest.empty()) {
            latest = frame.shadow_png();
            continue;
        }
        const DecodedImage before = DecodePng(latest);
        const DecodedImage after = DecodePng(frame.shadow_png());
        ASSERT_TRUE(before.ok && after.ok);
        for (int row = 0; row < 100; ++row) {
            for (int col = 0; col < 100; ++col) {
                const Rgba was = before.At(row, col);
                const Rgba is = after.At(row, col);
                const bool lost[2] = {(was == FIRST_ONLY || was == BOTH) && !(is == FIRST_ONLY || is == BOTH),
                                      (was == SECOND_ONLY || was == BOTH) && !(is == SECOND_ONLY || is == BOTH)};
                ASSERT_FALSE(lost[0] || lost[1]) << "cell " << row << "," << col << " was " << was << " is " << is;
            }
        }
        latest = frame.shadow_png();
    }
}

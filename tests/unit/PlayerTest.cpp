// ctest-labels: threads
// The player object: the crash rule that decides both scores, the status
// texts, names, the start cells, explored cells, and a message that does not
// fit or cannot be written.  (The first player's robots start the lidar
// workers, hence the label.)
#include <gtest/gtest.h>

#include <memory>

#include <string>
#include <thread>
#include <vector>

#include "PlayerFixture.h"
#include "RunProcess.h"

namespace {

class PlayerTest : public testing::Test {
protected:
    void SetUp() override {
        InitGameOnce();
        PlayerTestPeer::Reset(GamePlayer(0));
        PlayerTestPeer::Reset(GamePlayer(1));
    }
};

enum class Event { Crash4, Crash5, ZeroByteRead, IoError };

struct Failure {
    int player;
    Event event;
};

struct PlayerState {
    int32_t status;
    int32_t money;
};

struct CrashCase {
    const char* name;
    PlayerState before[2];
    std::vector<Failure> failures;
    PlayerState after[2];
    const char* statusText[2];
    std::string log;  // message parts only, one per line, in order
};

void Apply(const Failure& failure) {
    Player& player = GamePlayer(failure.player);
    switch (failure.event) {
        case Event::Crash4: player.PlayerCrash(4); break;
        case Event::Crash5: player.PlayerCrash(5); break;
        case Event::ZeroByteRead: PlayerTestPeer::Read(player, ""); break;
        case Event::IoError: PlayerTestPeer::IoError(player); break;
    }
}

// The messages of the captured log lines, without their prefixes.
std::string Messages(const std::string& log) {
    std::string out;
    size_t pos = 0;
    while (pos < log.size()) {
        size_t end = log.find('\n', pos);
        if (end == std::string::npos) end = log.size();
        const std::string line = log.substr(pos, end - pos);
        const size_t cut = line.find("]|");
        out += (cut == std::string::npos ? line : line.substr(cut + 2)) + "\n";
        pos = end + 1;
    }
    return out;
}

}  // namespace

TEST_F(PlayerTest, CrashRuleDecidesBothScores) {
    const CrashCase cases[] = {
        {"player 2 fails while player 1 has 250000",
         {{1, 250000}, {2, 300000}}, {{1, Event::Crash4}},
         {{1, 1000000}, {4, 0}}, {"Successful", "Output format error."},
         "Player:2 crashed.\n"},
        {"player 2 fails while player 1 has more than 1000000",
         {{1, 1500000}, {1, 200000}}, {{1, Event::Crash5}},
         {{1, 1500000}, {5, 0}}, {"Successful", "Runtime error."},
         "Player:2 crashed.\n"},
        {"player 1 fails with exactly 1000000 left to player 2",
         {{2, 200000}, {1, 1000000}}, {{0, Event::Crash4}},
         {{4, 0}, {1, 1000000}}, {"Output format error.", "Successful"},
         "Player:1 crashed.\n"},
        {"player 1 fails, then player 2 in the same frame",
         {{2, 400000}, {2, 300000}}, {{0, Event::Crash5}, {1, Event::Crash4}},
         {{5, 0}, {4, 0}}, {"Runtime error.", "Output format error."},
         "Player:1 crashed.\nPlayer:2 crashed.\n"},
        {"status 4, then a read of 0 bytes",
         {{1, 200000}, {2, 200000}}, {{0, Event::Crash4}, {0, Event::ZeroByteRead}},
         {{5, 0}, {2, 1000000}}, {"Runtime error.", "Successful"},
         "Player:1 crashed.\nPlayer:1 crashed.\n"},
        {"status 5, then a malformed answer's 4 replaces it",
         {{1, 200000}, {1, 200000}}, {{1, Event::Crash5}, {1, Event::Crash4}},
         {{1, 1000000}, {4, 0}}, {"Successful", "Output format error."},
         "Player:2 crashed.\nPlayer:2 crashed.\n"},
        {"an I/O error is a runtime error",
         {{0, 200000}, {2, 200000}}, {{1, Event::IoError}},
         {{0, 1000000}, {5, 0}}, {"Successful", "Runtime error."},
         "Handle IO Error\nPlayer:2 crashed.\n"},
    };
    for (const CrashCase& c : cases) {
        SCOPED_TRACE(c.name);
        for (int i = 0; i < 2; ++i) {
            PlayerTestPeer::SetStatus(GamePlayer(i), c.before[i].status);
            GamePlayer(i).MoneyRef() = c.before[i].money;
        }
        StderrCapture capture;
        for (const Failure& failure : c.failures) Apply(failure);
        EXPECT_EQ(Messages(capture.Take()), c.log);
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(GamePlayer(i).GetStatus(), c.after[i].status) << "player index " << i;
            EXPECT_EQ(GamePlayer(i).GetMoney(), c.after[i].money) << "player index " << i;
            EXPECT_EQ(GamePlayer(i).GetStatusText(), c.statusText[i]) << "player index " << i;
            EXPECT_EQ(GamePlayer(i).IsOver(), c.after[i].status >= 4) << "player index " << i;
        }
    }
}

TEST_F(PlayerTest, FailureLogLinesNameTheFunctionAndPlayer) {
    StderrCapture capture;
    PlayerTestPeer::IoError(GamePlayer(0));
    EXPECT_EQ(capture.Take(), LogLine("ERR", "Robot/Player.cpp", "Player::HandleIOError", "Handle IO Error") +
                                  LogLine("ERR", "Robot/Player.cpp", "Player::PlayerCrash", "Player:1 crashed."));
}

TEST_F(PlayerTest, StatusTextOfPlayersStillInTheMatch) {
    for (int32_t status : {0, 1, 2}) {
        PlayerTestPeer::SetStatus(GamePlayer(0), status);
        EXPECT_EQ(GamePlayer(0).GetStatusText(), "Successful") << "status " << status;
        EXPECT_FALSE(GamePlayer(0).IsOver()) << "status " << status;
    }
}

TEST_F(PlayerTest, InitSeatsRobotsOnTheirStartCells) {
    EXPECT_EQ(GamePlayer(0).GetName(), "player1");
    EXPECT_EQ(GamePlayer(1).GetName(), "player2");
    EXPECT_EQ(GamePlayer(0).GetPlayerId(), 0);
    EXPECT_EQ(GamePlayer(1).GetPlayerId(), 1);
    // The fixture's "A" cells are row 10, columns 10 to 40; "B" row 80.
    const float xs[4] = {5.25f, 10.25f, 15.25f, 20.25f};
    for (int id = 0; id < 4; ++id) {
        const b2Vec2 a = GamePlayer(0).GetRobot(id).m_pBody->GetPosition();
        const b2Vec2 b = GamePlayer(1).GetRobot(id).m_pBody->GetPosition();
        EXPECT_EQ(a.x, xs[id]);
        EXPECT_EQ(a.y, 44.75f);
        EXPECT_EQ(b.x, xs[id]);
        EXPECT_EQ(b.y, 9.75f);
        EXPECT_EQ(GamePlayer(0).GetRobot(id).m_iId, id);
        EXPECT_EQ(GamePlayer(1).GetRobot(id).m_iPlayer, 1);
    }
}

TEST(PlayerNames, AGivenNameIsKeptAndTheOtherDefaults) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // A fresh process: the names are set before the players' Init, as -n does.
    EXPECT_EXIT(
        {
            GamePlayer(0).SetName("Alice");
            InitGameOnce();
            const bool ok = GamePlayer(0).GetName() == "Alice" && GamePlayer(1).GetName() == "player2";
            _exit(ok ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

// A map without exactly four start cells of a player stops the referee
// before that player's program is started: the ERR line, exit code -1, no
// result line.
TEST(PlayerStartCells, WrongCountStopsTheProgram) {
    struct Case {
        const char* map;
        const char* message;
    };
    const Case cases[] = {
        {"player_three_a.txt", "Player::Init|frame[1]|Get robot pos err, size:3, expect:4\n"},
        {"player_five_b.txt", "Player::Init|frame[1]|Get robot pos err, size:5, expect:4\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.map);
        RunOptions options;
        options.unsetEnv = {"DISPLAY"};
        options.timeoutSeconds = 20;
        const RunResult result = RunReferee(
            {"-f", "-m", std::string(SOURCE_DIR) + "/tests/maps/" + c.map, "/bin/cat", "/bin/cat"}, options);
        EXPECT_EQ(result.exitCode, 255);
        EXPECT_EQ(result.out, "");
        EXPECT_NE(result.err.find(std::string("[ERR]Robot/Player.cpp:")), std::string::npos) << result.err;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    }
}

TEST_F(PlayerTest, ExploredCellsAreMarkedOnce) {
    Player& player = GamePlayer(1);
    EXPECT_EQ(player.GetExploredCells().IsSeen(3, 97), 0);
    EXPECT_TRUE(player.GetExploredCells().Mark(3, 97));
    EXPECT_FALSE(player.GetExploredCells().Mark(3, 97));
    EXPECT_EQ(player.GetExploredCells().IsSeen(3, 97), 1);
    EXPECT_EQ(GamePlayer(0).GetExploredCells().IsSeen(3, 97), 0);

    static uint8_t grid[MAP_SIDE_CELLS][MAP_SIDE_CELLS];
    player.GetExploredCells().CopyTo(grid);
    EXPECT_EQ(grid[3][97], 1);
    EXPECT_EQ(grid[97][3], 0);
}

// Workers that mark the same cells at once: every cell ends at 1, and the
// sanitizer build checks that no access races.
TEST_F(PlayerTest, ExploredCellsTakeConcurrentMarks) {
    Player& player = GamePlayer(0);
    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w) {
        workers.emplace_back([&player] {
            for (int row = 50; row < 100; ++row) {
                for (int col = 0; col < 100; ++col) player.GetExploredCells().Mark(row, col);
            }
        });
    }
    for (std::thread& worker : workers) worker.join();
    int seen = 0;
    for (int row = 50; row < 100; ++row) {
        for (int col = 0; col < 100; ++col) seen += player.GetExploredCells().IsSeen(row, col);
    }
    EXPECT_EQ(seen, 5000);
}

// A frame message that would not fit the buffer is never written past it,
// and never sent in part: the failed check, then nothing (the player stays
// ready and is tried again next frame).
TEST_F(PlayerTest, MessageTooLongForTheBufferIsNotSent) {
    Player& player = GamePlayer(1);
    // 7000 workbench lines of 21 bytes outgrow the 131072-byte buffer (the
    // map loader allows 50).
    for (int i = 0; i < 7000; ++i) player.GetWorkbenches().Add(Workbench(1, b2Vec2(25.25f, 24.75f)));
    PlayerTestPeer::SetStatus(player, 1);
    StderrCapture capture;
    player.WriteData();
    EXPECT_EQ(capture.Take(), LogLine("ASSERT", "Robot/Player.cpp", "Player::WriteData",
                                      "assert \"m_stream.GetRemainSize() >= 0\" failed"));
    EXPECT_EQ(player.GetStatus(), 1);
    EXPECT_LT(player.GetStream().GetRemainSize(), 0);
    const std::string text(player.GetStream().GetData(), player.GetStream().GetSize());
    EXPECT_LE(text.size(), 131072u);
    EXPECT_GT(text.size(), 131072u - 64);
    // What was built is a clean prefix of the whole message: whole fields only.
    std::string lines = "1 200000\n7000\n";
    char buf[128];
    for (const WorkbenchInfo& info : player.GetWorkbenches().CollectInfo()) {
        snprintf(buf, sizeof buf, "%d %.10g %.10g %d %d %d\n", info.type, static_cast<double>(info.x),
                 static_cast<double>(info.y), info.remain, static_cast<int>(info.haveMask), info.ready);
        lines += buf;
    }
    EXPECT_EQ(lines.compare(0, text.size(), text), 0);
    EXPECT_TRUE(text.back() == '\n' || text.back() == ' ');
}

// A lidar line kept from the last message that no longer fits is cut as a
// freshly formatted one would be: whole fields up to the buffer's end.
TEST_F(PlayerTest, KeptLidarLineIsCutAtWholeFields) {
    auto player = std::make_unique<Player>();
    player->Init(1);
    for (int id = 0; id < 4; ++id) player->GetRobot(id).m_radar = std::vector<float>(360, 12.345678f);
    player->BuildFrameMessage();
    const std::string alone(player->GetStream().GetData(), player->GetStream().GetSize());
    const Workbench extra(1, b2Vec2(25.25f, 24.75f));
    player->GetWorkbenches().Add(extra);
    char line[128];
    const WorkbenchInfo info = player->GetWorkbenches().CollectInfo().back();
    snprintf(line, sizeof line, "%d %.10g %.10g %d %d %d\n", info.type, static_cast<double>(info.x),
             static_cast<double>(info.y), info.remain, static_cast<int>(info.haveMask), info.ready);
    // Workbench lines until the cut falls into the last lidar line, past
    // "OK\n": most at once, the last ones one by one.
    int count = static_cast<int>((DataStream::BUF_SIZE - static_cast<int64_t>(alone.size())) / strlen(line)) - 8;
    for (int i = 1; i < count; ++i) player->GetWorkbenches().Add(extra);
    for (player->BuildFrameMessage(); player->GetStream().GetRemainSize() > -4; player->BuildFrameMessage()) {
        player->GetWorkbenches().Add(extra);
        ++count;
    }
    const size_t afterCount = alone.find('\n', alone.find('\n') + 1) + 1;
    std::string whole = alone.substr(0, alone.find('\n') + 1) + std::to_string(count) + "\n";
    for (int i = 0; i < count; ++i) whole += line;
    whole += alone.substr(afterCount);
    size_t cut = static_cast<size_t>(DataStream::BUF_SIZE);
    while (whole[cut - 1] != ' ' && whole[cut - 1] != '\n') --cut;
    ASSERT_GT(cut, whole.rfind('\n', whole.size() - 5));  // inside the last lidar line

    EXPECT_EQ(std::string(player->GetStream().GetData(), player->GetStream().GetSize()), whole.substr(0, cut));
}

// A write that the system refuses (here: no program was ever started) is a
// runtime error of the player, after the status 2 the message had set.
TEST_F(PlayerTest, RefusedWriteIsARuntimeError) {
    Player& player = GamePlayer(0);
    PlayerTestPeer::SetStatus(player, 1);
    StderrCapture capture(LOG_LEVEL_ERR);
    player.WriteData();
    const std::string log = capture.Take();
    EXPECT_NE(log.find(LogLine("ERR", "Robot/Player.cpp", "Player::WriteData", "WriteToProcess err.")),
              std::string::npos)
        << log;
    EXPECT_EQ(player.GetStatus(), 5);
    EXPECT_EQ(player.GetMoney(), 0);
    EXPECT_EQ(GamePlayer(1).GetMoney(), 1000000);
}

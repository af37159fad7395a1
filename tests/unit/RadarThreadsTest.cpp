// ctest-labels: threads
// The lidar workers and the lidar update of one robot: the release and wait
// of the four workers, the fall-back to the reference scan, the clamping of
// bad readings and the explored cells along the beams.
//
// The fixture map (tests/maps/robot_radar.txt) has its start cells in the
// open north-west, and three places that no lidar from there can see: a
// walled room with a pillar (rows and columns 60 to 80, pillar at row 70,
// column 70), a pocket on the left edge (rows 44 to 52, columns 0 to 3) and
// one on the top edge (rows 0 to 3, columns 48 to 56).  The tests that check
// explored cells put a robot into one of them, each on cells of its own, so
// that they hold in any order in one process.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <set>
#include <utility>
#include <vector>

#include "Map.h"
#include "Player.h"
#include "Robot.h"
#include "RobotTestSupport.h"

namespace {

using Cell = std::pair<int, int>;  // row, column

Game* TheGame() { return Game::GetInstance(); }
Robot& GameRobot(int player, int id) { return TheGame()->GetPlayer(player).GetRobot(id); }

// What the fake scans give back; written before a release, read by the workers.
std::vector<float> g_fastReadings;
std::vector<float> g_referenceReadings;
std::atomic<int> g_referenceCalls{0};

std::vector<float> FakeFastScan(const Map&, b2Vec2, float, const std::vector<RadarObstacle>&) {
    return g_fastReadings;
}

std::vector<float> FakeReferenceScan(const Map&, b2Vec2, float, const std::vector<RadarObstacle>&) {
    ++g_referenceCalls;
    return g_referenceReadings;
}

// 360 readings of len, with some beams set apart.
std::vector<float> Readings(float len, const std::vector<std::pair<int, float>>& beams = {}) {
    std::vector<float> readings(360, len);
    for (const auto& beam : beams) readings[beam.first] = beam.second;
    return readings;
}

std::set<Cell> SeenCells(int player) {
    static uint8_t s_grid[100][100];
    TheGame()->GetPlayer(player).GetExploredCells().CopyTo(s_grid);
    std::set<Cell> cells;
    for (int row = 0; row < 100; ++row) {
        for (int col = 0; col < 100; ++col) {
            if (s_grid[row][col]) cells.insert(Cell(row, col));
        }
    }
    return cells;
}

std::set<Cell> NewCells(const std::set<Cell>& before, const std::set<Cell>& after) {
    std::set<Cell> added;
    for (const Cell& cell : after) {
        if (!before.count(cell)) added.insert(cell);
    }
    return added;
}

// The lidar's view of the other seven robots, in player and id order.
std::vector<RadarObstacle> OthersOf(const Robot& self) {
    std::vector<RadarObstacle> obstacles;
    for (int player = 0; player < 2; ++player) {
        for (int id = 0; id < 4; ++id) {
            const Robot& other = GameRobot(player, id);
            if (&other == &self) continue;
            obstacles.push_back(RadarObstacle{other.m_pBody->GetPosition().x, other.m_pBody->GetPosition().y,
                                              other.m_iProduct});
        }
    }
    return obstacles;
}

std::string RadarLine(const char* tag, const char* format, int beam, float len, const Robot& robot) {
    char message[256];
    const b2Vec2 pos = robot.m_pBody->GetPosition();
    snprintf(message, sizeof message, format, beam, len, pos.x, pos.y, NormalizeAngle(robot.m_pBody->GetAngle()),
             robot.m_iPlayer, robot.m_iId);
    return ExpectedLogLine(tag, "Robot/Robot.cpp", "Robot::UpdateRadar", message);
}

class RadarThreadsTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        InitGameOnceWithMap(FixtureMapPath("robot_radar.txt"));
        TheGame()->SetFastMode(true);
    }

    void SetUp() override {
        for (int player = 0; player < 2; ++player) {
            for (int id = 0; id < 4; ++id) {
                ASSERT_NE(GameRobot(player, id).m_pBody, nullptr);
                m_start[player][id] = GameRobot(player, id).m_pBody->GetPosition();
            }
        }
        m_defaultFast = Robot::s_fastScan;
        m_defaultReference = Robot::s_referenceScan;
        g_referenceCalls = 0;
    }

    // Every robot back on its start cell, empty-handed, heading 0; the real scans.
    void TearDown() override {
        for (int player = 0; player < 2; ++player) {
            for (int id = 0; id < 4; ++id) {
                Robot& robot = GameRobot(player, id);
                if (robot.m_iProduct) robot.DelProduct();
                robot.m_pBody->SetTransform(m_start[player][id], 0.0f);
            }
        }
        Robot::s_fastScan = m_defaultFast;
        Robot::s_referenceScan = m_defaultReference;
    }

    void UseFakeScans(std::vector<float> fast, std::vector<float> reference = Readings(7.0f)) {
        g_fastReadings = std::move(fast);
        g_referenceReadings = std::move(reference);
        Robot::s_fastScan = FakeFastScan;
        Robot::s_referenceScan = FakeReferenceScan;
    }

    b2Vec2 m_start[2][4];
    Robot::RadarScanFn m_defaultFast = nullptr;
    Robot::RadarScanFn m_defaultReference = nullptr;
};

}  // namespace

// ---------------------------------------------------------------- workers

TEST_F(RadarThreadsTest, WorkersComputeTheLidarOfAllEightRobots) {
    GameRobot(1, 2).AddProduct(3);  // seen by the others as the larger circle
    GameRobot(0, 1).m_pBody->SetTransform(m_start[0][1], 2.5f);
    GameRobot(1, 3).m_pBody->SetTransform(m_start[1][3], -4.0f);
    for (int frame = 0; frame < 3; ++frame) {
        SCOPED_TRACE(frame);
        for (int player = 0; player < 2; ++player) {
            for (int id = 0; id < 4; ++id) GameRobot(player, id).m_radar.clear();
        }
        Robot::StartRadarTasks();
        Robot::WaitRadarTasks();
        for (int player = 0; player < 2; ++player) {
            for (int id = 0; id < 4; ++id) {
                SCOPED_TRACE(testing::Message() << "player " << player << " robot " << id);
                const Robot& robot = GameRobot(player, id);
                const std::vector<float> expected = TheGame()->GetMap().ScanRadar(
                    robot.m_pBody->GetPosition(), NormalizeAngle(robot.m_pBody->GetAngle()), OthersOf(robot));
                ASSERT_EQ(robot.m_radar.size(), 360u);
                for (int beam = 0; beam < 360; ++beam)
                    ASSERT_EQ(FloatBits(robot.m_radar[beam]), FloatBits(expected[beam])) << "beam " << beam;
            }
        }
        EXPECT_EQ(Robot::m_taskBits.load(), 0u);
        EXPECT_EQ(Robot::m_doneBits.load(), 0u);
    }
}

// ---------------------------------------------------------------- fall-back

TEST_F(RadarThreadsTest, BadReadingsFallBackToTheReferenceScanAndAreClamped) {
    const float nan = std::nanf("");
    const float inf = INFINITY;
    const char* INFO_FORMAT = "Get radar len[%d]:%f, pos:%f,%f, angle:%f player:%d id:%d\n";
    const char* ERR_FORMAT = "Get err radar len[%d]:%f, pos:%f,%f, angle:%f player:%d id:%d\n";
    struct Line {
        const char* tag;
        const char* format;
        int beam;
        float len;
    };
    const struct {
        const char* name;
        int level;
        std::vector<float> fast, reference;
        int referenceCalls;
        std::vector<Line> lines;
        std::vector<float> radar;
    } cases[] = {
        {"good readings, 100 included, are kept", LOG_LEVEL_DBG, Readings(5.0f, {{5, 100.0f}, {6, 0.0f}}),
         Readings(7.0f), 0, {}, Readings(5.0f, {{5, 100.0f}, {6, 0.0f}})},
        {"the first bad beam is reported, the whole scan redone", LOG_LEVEL_INFO,
         Readings(5.0f, {{17, nan}, {40, inf}, {41, 150.0f}}), Readings(7.0f), 1,
         {{"INFO", INFO_FORMAT, 17, nan}}, Readings(7.0f)},
        {"bad reference readings become 100", LOG_LEVEL_INFO, Readings(5.0f, {{300, 100.5f}}),
         Readings(7.0f, {{3, inf}, {200, 150.0f}, {201, -inf}}), 1,
         {{"INFO", INFO_FORMAT, 300, 100.5f},
          {"ERR", ERR_FORMAT, 3, inf},
          {"ERR", ERR_FORMAT, 200, 150.0f},
          {"ERR", ERR_FORMAT, 201, -inf}},
         Readings(7.0f, {{3, 100.0f}, {200, 100.0f}, {201, 100.0f}})},
        {"the same without log lines", LOG_LEVEL_NONE, Readings(5.0f, {{0, nan}}), Readings(7.0f, {{359, nan}}), 1,
         {}, Readings(7.0f, {{359, 100.0f}})},
    };
    Robot& robot = GameRobot(1, 2);
    robot.m_pBody->SetTransform(b2Vec2(40.0f, 40.0f), 0.5f);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UseFakeScans(c.fast, c.reference);
        g_referenceCalls = 0;
        LogCapture log(c.level);
        robot.UpdateRadar();
        std::string expected;
        for (const Line& line : c.lines) expected += RadarLine(line.tag, line.format, line.beam, line.len, robot);
        EXPECT_EQ(log.Take(), expected);
        EXPECT_EQ(g_referenceCalls, c.referenceCalls);
        ASSERT_EQ(robot.m_radar.size(), 360u);
        for (int beam = 0; beam < 360; ++beam)
            ASSERT_EQ(FloatBits(robot.m_radar[beam]), FloatBits(c.radar[beam])) << "beam " << beam;
    }
}

// ---------------------------------------------------------------- explored cells

// Samples every 0.2 m strictly below the beam's length, from the robot's
// centre: beams of 0.1 and 0.2 m reach only the first sample.  Each robot
// sits 0.1 m from a cell edge, so a second sample would land next door.
TEST_F(RadarThreadsTest, ShortBeamsMarkOnlyTheRobotsOwnCell) {
    const struct {
        float len;
        b2Vec2 pos;
        Cell own;
    } cases[] = {
        {0.1f, b2Vec2(32.4f, 17.6f), Cell(64, 64)},
        {0.2f, b2Vec2(33.4f, 17.6f), Cell(64, 66)},
    };
    Robot& robot = GameRobot(0, 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.len);
        UseFakeScans(Readings(c.len));
        robot.m_pBody->SetTransform(c.pos, 0.0f);
        const std::set<Cell> before = SeenCells(0);
        ASSERT_EQ(before.count(c.own), 0u);
        robot.UpdateRadar();
        EXPECT_EQ(NewCells(before, SeenCells(0)), std::set<Cell>({c.own}));
        EXPECT_TRUE(TheGame()->IsShadowChanged());
    }
}

// One long beam each: through an obstacle cell, which stays unmarked while the
// samples beyond it count; and over the left and the top edge, where samples
// up to half a cell outside still count as column 0 or row 0.
TEST_F(RadarThreadsTest, BeamsMarkTheCellsAlongThemButNoObstacleCell) {
    const struct {
        const char* name;
        int player;
        b2Vec2 pos;
        int beam;
        float len;
        std::set<Cell> marked;
    } cases[] = {
        {"through the pillar", 0, b2Vec2(34.25f, 14.75f), 0, 1.5f, {{70, 68}, {70, 69}, {70, 71}}},
        // (47, 0) is reached only by samples at x < 0
        {"over the left edge", 1, b2Vec2(0.45f, 25.45f), 135, 1.3f, {{49, 0}, {48, 0}, {47, 0}}},
        // (0, 52) is reached only by samples at y > 50
        {"over the top edge", 1, b2Vec2(25.45f, 49.55f), 45, 1.3f, {{0, 50}, {0, 51}, {0, 52}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Robot& robot = GameRobot(c.player, 3);
        UseFakeScans(Readings(0.1f, {{c.beam, c.len}}));
        robot.m_pBody->SetTransform(c.pos, 0.0f);
        const std::set<Cell> before = SeenCells(c.player);
        robot.UpdateRadar();
        EXPECT_EQ(NewCells(before, SeenCells(c.player)), c.marked);
    }
    EXPECT_EQ(TheGame()->GetMap().GetMapData()[70][70], '#');
    EXPECT_EQ(TheGame()->GetPlayer(0).GetExploredCells().IsSeen(70, 70), 0);
}

// The frame clears the flag before the release; the workers set it only
// when some robot sees a cell for the first time.
TEST_F(RadarThreadsTest, ShadowFlagMarksFramesWithNewCells) {
    UseFakeScans(Readings(0.1f));
    GameRobot(0, 1).m_pBody->SetTransform(b2Vec2(37.75f, 12.25f), 0.0f);  // room cell (75, 75)
    ASSERT_EQ(TheGame()->GetPlayer(0).GetExploredCells().IsSeen(75, 75), 0);
    TheGame()->Step();
    EXPECT_TRUE(TheGame()->IsShadowChanged());
    EXPECT_EQ(TheGame()->GetPlayer(0).GetExploredCells().IsSeen(75, 75), 1);
    TheGame()->Step();
    EXPECT_FALSE(TheGame()->IsShadowChanged());
}

// ctest-labels: threads
// The explored cells that the lidar workers mark, frame after frame, against
// the sampling rule applied here beam by beam.  Robots jump to random places
// (some past the grid's edges) and headings; every other frame the readings
// are random lengths that run through walls, so that the cells beside walls
// and in closed pockets fill up too.  As the grid fills, most beams find
// nothing new, which is where the workers save their work.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "Map.h"
#include "Player.h"
#include "Robot.h"
#include "RobotTestSupport.h"

namespace {

using Grid = std::array<std::array<uint8_t, 100>, 100>;

Game* TheGame() { return Game::GetInstance(); }
Robot& GameRobot(int player, int id) { return TheGame()->GetPlayer(player).GetRobot(id); }

Grid SeenCells(int player) {
    static uint8_t s_grid[100][100];
    TheGame()->GetPlayer(player).GetExploredCells().CopyTo(s_grid);
    Grid grid;
    for (int row = 0; row < 100; ++row) {
        for (int col = 0; col < 100; ++col) grid[row][col] = s_grid[row][col];
    }
    return grid;
}

// The rule: from the robot's centre, a sample every 0.2 m (running sums in
// single precision) while the distance is below the reading; a sample marks
// the cell it falls on, cut toward zero, unless that is a wall.
void MarkBeam(Grid& grid, const std::vector<std::vector<char>>& rows, b2Vec2 pos, float angle, int beam,
              int beams, float len) {
    const float a = NormalizeAngle(static_cast<float>(2 * beam) * 3.1415927f / static_cast<float>(beams) + angle);
    const float stepX = cosf(a) * 0.2f;
    const float stepY = sinf(a) * 0.2f;
    float x = pos.x;
    float y = pos.y;
    for (float d = 0.0f; len > d; d = d + 0.2f) {
        const float colPos = x + x;
        const float rowPos = (50.0f - y) + (50.0f - y);
        x = x + stepX;
        y = y + stepY;
        if (!(colPos > -1.0f && colPos < 100.0f && rowPos > -1.0f && rowPos < 100.0f)) continue;
        const size_t col = static_cast<size_t>(colPos);
        const size_t row = static_cast<size_t>(rowPos);
        if (row < rows.size() && col < rows[row].size() && rows[row][col] != '#') grid[row][col] = 1;
    }
}

std::vector<float> g_readings;  // what the random scan gives every robot; set before a release

std::vector<float> RandomScan(const Map&, b2Vec2, float, const std::vector<RadarObstacle>&) { return g_readings; }

std::vector<float> RandomReadings(std::mt19937& rng) {
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::vector<float> readings(360);
    for (float& len : readings) {
        const float kind = unit(rng);
        if (kind < 0.3f) {
            len = unit(rng) * 0.5f;
        } else if (kind < 0.8f) {
            len = unit(rng) * 40.0f;
        } else if (kind < 0.9f) {
            len = static_cast<float>(static_cast<int>(unit(rng) * 100.0f)) * 0.2f;  // on a sample
        } else {
            len = 100.0f;
        }
    }
    return readings;
}

class ExploredCellsTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        InitGameOnceWithMap(std::string(SOURCE_DIR) + "/maps/demo.txt");
        if (!s_realScan) s_realScan = Robot::s_fastScan;
    }
    void TearDown() override { Robot::s_fastScan = s_realScan; }

    // One release of the workers with the robots where they are; the cells
    // they mark against the rule, applied to the cells seen before.
    static void ExpectWorkersMarkWhatTheRuleMarks() {
        const std::vector<std::vector<char>>& rows = TheGame()->GetMap().GetMapData();
        Grid expected[2] = {SeenCells(0), SeenCells(1)};
        Robot::StartRadarTasks();
        Robot::WaitRadarTasks();
        for (int player = 0; player < 2; ++player) {
            for (int id = 0; id < 4; ++id) {
                const Robot& robot = GameRobot(player, id);
                const int beams = static_cast<int>(robot.m_radar.size());
                for (int beam = 0; beam < beams; ++beam) {
                    MarkBeam(expected[player], rows, robot.m_pBody->GetPosition(), robot.m_pBody->GetAngle(), beam,
                             beams, robot.m_radar[beam]);
                }
            }
        }
        for (int player = 0; player < 2; ++player) {
            const Grid seen = SeenCells(player);
            for (int row = 0; row < 100; ++row) {
                for (int col = 0; col < 100; ++col)
                    ASSERT_EQ(seen[row][col], expected[player][row][col]) << "player " << player << " cell " << row << ","
                                                                          << col;
            }
        }
    }

    static Robot::RadarScanFn s_realScan;
};

Robot::RadarScanFn ExploredCellsTest::s_realScan = nullptr;

TEST_F(ExploredCellsTest, WorkersMarkTheCellsTheSamplesReach) {
    const Robot::RadarScanFn realScan = s_realScan;

    std::mt19937 rng(2023);
    // The real scan takes robots inside the arena only; random readings come from anywhere.
    std::uniform_real_distribution<float> inside(0.5f, 49.5f);
    std::uniform_real_distribution<float> anywhere(-1.5f, 51.5f);
    std::uniform_real_distribution<float> turn(-20.0f, 20.0f);
    int seenAtEnd = 0;
    for (int frame = 0; frame < 300; ++frame) {
        SCOPED_TRACE(frame);
        const bool random = frame % 2 == 1;
        std::uniform_real_distribution<float>& place = random ? anywhere : inside;
        for (int player = 0; player < 2; ++player) {
            for (int id = 0; id < 4; ++id) {
                const b2Vec2 pos(place(rng), place(rng));
                GameRobot(player, id).m_pBody->SetTransform(pos, turn(rng));
            }
        }
        if (random) g_readings = RandomReadings(rng);
        Robot::s_fastScan = random ? RandomScan : realScan;
        ASSERT_NO_FATAL_FAILURE(ExpectWorkersMarkWhatTheRuleMarks());
    }
    for (int player = 0; player < 2; ++player) {
        const Grid seen = SeenCells(player);
        for (const auto& row : seen) {
            for (uint8_t cell : row) seenAtEnd += cell;
        }
    }
    // Nearly everything is seen by now: the late frames tested beams that mark nothing new.
    EXPECT_GT(seenAtEnd, 2 * 9000);
}

// Everything seen but lone cells on a lattice: a beam that is skipped over
// a stretch must not be skipped past one of them, whether it passes near or
// far from the robot.  The grids start afresh, whatever ran before.
TEST_F(ExploredCellsTest, LoneCellsLeftToMarkAreFound) {
    constexpr int LATTICE = 11;
    for (int player = 0; player < 2; ++player) {
        ExploredCells& explored = TheGame()->GetPlayer(player).GetExploredCells();
        explored.Clear();
        for (int row = 0; row < 100; ++row) {
            for (int col = 0; col < 100; ++col) {
                const bool onLattice = (row + 3 * player) % LATTICE == 5 && (col + 5 * player) % LATTICE == 5;
                if (!onLattice) explored.Mark(row, col);
            }
        }
    }
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> anywhere(-1.5f, 51.5f);
    std::uniform_real_distribution<float> turn(-4.0f, 4.0f);
    Robot::s_fastScan = RandomScan;
    for (int frame = 0; frame < 12; ++frame) {
        SCOPED_TRACE(frame);
        for (int player = 0; player < 2; ++player) {
            for (int id = 0; id < 4; ++id) {
                const b2Vec2 pos(anywhere(rng), anywhere(rng));
                GameRobot(player, id).m_pBody->SetTransform(pos, turn(rng));
            }
        }
        g_readings = RandomReadings(rng);
        ASSERT_NO_FATAL_FAILURE(ExpectWorkersMarkWhatTheRuleMarks());
    }
}

}  // namespace

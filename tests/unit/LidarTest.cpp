// The lidar: ray distances, the reference scan's worked cases, and the fast
// scan against the reference scan to the last bit of every reading.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "Map.h"
#include "Robot.h"

namespace {

constexpr double NO_HIT = 1e100;

uint32_t Bits(float f) {
    uint32_t u;
    memcpy(&u, &f, sizeof u);
    return u;
}

std::vector<std::vector<char>> FloorRows() { return std::vector<std::vector<char>>(100, std::vector<char>(100, '.')); }

Map LoadRows(std::vector<std::vector<char>> rows) {
    Map map;
    EXPECT_TRUE(map.Load(rows));
    return map;
}

Map LoadFile(const std::string& name) {
    Map map;
    EXPECT_TRUE(map.Load(std::string(SOURCE_DIR "/maps/") + name + ".txt"));
    return map;
}

// Obstacle cells given as (row, col).
Map LoadWithObstacles(const std::vector<std::pair<int, int>>& cells) {
    std::vector<std::vector<char>> rows = FloorRows();
    for (const auto& [r, c] : cells) rows[r][c] = '#';
    return LoadRows(rows);
}

const std::vector<RadarObstacle> NONE;

}  // namespace

TEST(LidarBitTables, HoldTheirValues) {
    Map::InitBitTables();
    EXPECT_EQ(Map::s_bitIndexMod37[1], 0);
    EXPECT_EQ(Map::s_bitIndexMod37[2], 1);
    EXPECT_EQ(Map::s_bitIndexMod37[27], 6);
    EXPECT_EQ(Map::s_bitIndexMod37[3], 26);
    EXPECT_EQ(Map::s_bitIndexMod37[22], 31);
    for (int unused : {0, 7, 14, 19, 28}) EXPECT_EQ(Map::s_bitIndexMod37[unused], 0) << unused;
    for (int i = 0; i < 32; ++i) {
        EXPECT_EQ(Map::s_bitIndexMod37[(uint64_t{1} << i) % 37], i);
        EXPECT_EQ(Map::s_lowMasks[i], static_cast<uint32_t>((uint64_t{2} << i) - 1)) << i;
        EXPECT_EQ(Map::s_highMasks[i], ~static_cast<uint32_t>((uint64_t{1} << i) - 1)) << i;
    }
    EXPECT_EQ(Map::s_lowMasks[7], 0xFFu);
    EXPECT_EQ(Map::s_lowMasks[31], 0xFFFFFFFFu);
    EXPECT_EQ(Map::s_highMasks[1], 0xFFFFFFFEu);
    EXPECT_EQ(Map::s_highMasks[31], 0x80000000u);
}

TEST(RaySegmentDistance, FromTheCentreAlongX) {
    struct Case {
        const char* name;
        int ax, ay, bx, by;
        double expected;
    };
    const Case cases[] = {
        {"WallAhead", 100, 0, 100, 100, 50},
        {"EndPointOnTheRay", 100, 50, 100, 80, 50},
        {"LineMetBehind", 0, 100, 0, 0, NO_HIT},
        {"BothEndsOnOneSide", 0, 0, 100, 0, NO_HIT},
        {"AlongTheLineAheadGivesTheNearerEnd", 60, 50, 70, 50, 10},
        {"AlongTheLineReversed", 70, 50, 60, 50, 10},
        {"AlongTheLineBehind", 30, 50, 40, 50, NO_HIT},
        {"ContainsTheOrigin", 40, 50, 70, 50, 0},
        {"EndsAtTheOrigin", 50, 50, 50, 80, 0},
        {"ParallelBeside", 60, 51, 70, 51, NO_HIT},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Map::RaySegmentDistance(50, 50, 1, 0, c.ax, c.ay, c.bx, c.by), c.expected) << c.name;
    }
}

TEST(RayRobotDistance, CircleAheadBehindAndBeside) {
    const RadarObstacle empty{5.0f, 0.0f, 0};
    const RadarObstacle carrying{5.0f, 0.0f, 3};
    // From the origin along x, cells of 0.5 m: the centre lies 10 cells ahead.
    EXPECT_EQ(Map::RayRobotDistance(0, 0, 1, 0, empty, 0.5f, 0.5f), 10.0 - static_cast<double>(0.45f / 0.5f));
    EXPECT_EQ(Map::RayRobotDistance(0, 0, 1, 0, carrying, 0.5f, 0.5f), 10.0 - static_cast<double>(0.53f / 0.5f));
    EXPECT_EQ(Map::RayRobotDistance(0, 0, -1, 0, empty, 0.5f, 0.5f), NO_HIT);
    EXPECT_EQ(Map::RayRobotDistance(0, 1, 1, 0, empty, 0.5f, 0.5f), NO_HIT);  // passes 1 cell beside a 0.9 circle
    EXPECT_EQ(Map::RayRobotDistance(10, 0.5, 1, 0, empty, 0.5f, 0.5f), 0.0);   // inside, centre ahead
    EXPECT_EQ(Map::RayRobotDistance(10.5, 0, 1, 0, empty, 0.5f, 0.5f), NO_HIT);  // inside, centre behind
}

TEST(LidarReference, EmptyArenaFromItsCentreQuarter) {
    const Map map = LoadRows(FloorRows());
    const std::vector<float> r = map.ScanRadarReference(b2Vec2(25.0f, 25.0f), 0.0f, NONE);
    ASSERT_EQ(r.size(), 360u);
    for (int beam : {0, 90, 180, 270}) EXPECT_EQ(r[beam], 25.0f) << beam;
    // Beam 45 runs through the corner (100, 100), which both borders report.
    EXPECT_NEAR(r[45], 35.3553, 1e-4);
    const double c = cos(PI / 4);
    const double s = sin(PI / 4);
    EXPECT_NEAR(Map::RaySegmentDistance(50, 50, c, s, 100, 0, 100, 100), 70.7107, 1e-4);
    EXPECT_NEAR(Map::RaySegmentDistance(50, 50, c, s, 100, 100, 0, 100), 70.7107, 1e-4);
    EXPECT_EQ(Bits(map.ScanRadar(b2Vec2(25.0f, 25.0f), 0.0f, NONE)[45]), Bits(r[45]));
}

TEST(LidarReference, BeamsTurnWithTheHeading) {
    const Map map = LoadRows(FloorRows());
    const float quarter = static_cast<float>(PI / 2);
    for (bool fast : {false, true}) {
        const std::vector<float> r = fast ? map.ScanRadar(b2Vec2(10.0f, 20.0f), quarter, NONE)
                                          : map.ScanRadarReference(b2Vec2(10.0f, 20.0f), quarter, NONE);
        EXPECT_FLOAT_EQ(r[0], 30.0f) << fast;    // +y
        EXPECT_FLOAT_EQ(r[90], 10.0f) << fast;   // -x
        EXPECT_FLOAT_EQ(r[180], 20.0f) << fast;  // -y
        EXPECT_FLOAT_EQ(r[270], 40.0f) << fast;  // +x
    }
}

TEST(LidarReference, AnotherRobotFiveMetresAhead) {
    const Map map = LoadRows(FloorRows());
    for (int product : {0, 4}) {
        SCOPED_TRACE(product);
        const std::vector<RadarObstacle> others = {{30.0f, 25.0f, product}};
        const std::vector<float> r = map.ScanRadarReference(b2Vec2(25.0f, 25.0f), 0.0f, others);
        const float radiusCells = (product ? ROBOT_CARRY_RADIUS : ROBOT_RADIUS) / 0.5f;
        EXPECT_EQ(r[0], 0.5f * static_cast<float>(10.0 - static_cast<double>(radiusCells)));
        EXPECT_NEAR(r[0], product ? 4.47 : 4.55, 1e-6);
        // The circle spans asin(r / 10) to either side: 5.2 or 6.1 degrees.
        const int lastSeen = product ? 6 : 5;
        for (int beam = 1; beam <= lastSeen; ++beam) {
            EXPECT_LT(r[beam], 5.0f) << beam;
            EXPECT_FLOAT_EQ(r[beam], r[360 - beam]) << beam;
        }
        EXPECT_GT(r[lastSeen + 1], 25.0f);
        EXPECT_GT(r[359 - lastSeen], 25.0f);
        EXPECT_EQ(r[180], 25.0f);
    }
}

TEST(LidarReference, OverlappingCircleAheadAndBehind) {
    const Map map = LoadRows(FloorRows());
    const std::vector<float> ahead = map.ScanRadarReference(b2Vec2(25.0f, 25.0f), 0.0f, {{25.3f, 25.0f, 0}});
    int zeros = 0;
    for (int beam = 0; beam < 360; ++beam) {
        const bool front = beam <= 90 || beam >= 270;
        if (front) EXPECT_EQ(ahead[beam], 0.0f) << beam;
        else EXPECT_GT(ahead[beam], 20.0f) << beam;
        zeros += ahead[beam] == 0.0f;
    }
    EXPECT_EQ(zeros, 181);

    const std::vector<float> behind = map.ScanRadarReference(b2Vec2(25.0f, 25.0f), 0.0f, {{24.7f, 25.0f, 0}});
    for (int beam = 90; beam <= 270; ++beam) EXPECT_EQ(behind[beam], 0.0f) << beam;
    EXPECT_EQ(behind[0], 25.0f);
    EXPECT_GT(behind[89], 20.0f);
    EXPECT_GT(behind[271], 20.0f);
}

TEST(LidarReference, RobotOnASegmentReadsZeroEverywhere) {
    const Map map = LoadWithObstacles({{50, 50}, {50, 51}});  // edges at y 49 and 50, x 50..52
    const b2Vec2 poses[] = {
        {0.0f, 20.0f},    // on the left border
        {0.0f, 0.0f},     // the arena's corner
        {25.5f, 25.0f},   // on the obstacle's top edge
        {25.0f, 24.5f},   // on its bottom-left corner
        {50.0f, 50.0f},   // the arena's far corner
    };
    for (const b2Vec2& pos : poses) {
        for (float heading : {0.0f, 1.0f, -2.5f}) {
            const std::vector<float> ref = map.ScanRadarReference(pos, heading, NONE);
            const std::vector<float> fast = map.ScanRadar(pos, heading, NONE);
            for (int beam = 0; beam < 360; ++beam) {
                ASSERT_EQ(ref[beam], 0.0f) << pos.x << "," << pos.y << " beam " << beam;
                ASSERT_EQ(Bits(fast[beam]), Bits(ref[beam])) << pos.x << "," << pos.y << " beam " << beam;
            }
        }
    }
}

TEST(LidarReference, SelfInTheObstacleListZeroesEveryBeam) {
    const Map map = LoadFile("demo");
    const b2Vec2 pos(12.3f, 31.7f);
    const std::vector<RadarObstacle> self = {{pos.x, pos.y, 0}};
    for (float reading : map.ScanRadarReference(pos, 0.4f, self)) EXPECT_EQ(reading, 0.0f);
}

TEST(LidarReference, EdgeOnSegmentIsMetAtItsNearerEnd) {
    // The obstacle's bottom edge lies on y = 49 cells, from x = 60 to 61; the
    // robot sits on that line 20 cells before it.
    const Map map = LoadWithObstacles({{50, 60}});
    for (bool fast : {false, true}) {
        const std::vector<float> r = fast ? map.ScanRadar(b2Vec2(20.0f, 24.5f), 0.0f, NONE)
                                          : map.ScanRadarReference(b2Vec2(20.0f, 24.5f), 0.0f, NONE);
        EXPECT_EQ(r[0], 10.0f) << fast;
        EXPECT_EQ(r[180], 20.0f) << fast;
    }
}

TEST(LidarReferenceDeathTest, RobotOutsideTheMapStopsTheProgram) {
    const Map map = LoadRows(FloorRows());
    EXPECT_DEATH(map.ScanRadarReference(b2Vec2(-0.1f, 25.0f), 0.0f, NONE),
                 "^the input of robot is out of map\n.*should_be_true");
    EXPECT_DEATH(map.ScanRadarReference(b2Vec2(25.0f, 50.01f), 0.0f, NONE), "^the input of robot is out of map\n");
}

TEST(LidarFast, RobotOutsideTheMapSeesNothingBehindTheBorder) {
    const Map map = LoadRows(FloorRows());
    const std::vector<float> r = map.ScanRadar(b2Vec2(-1.0f, 25.0f), 0.0f, NONE);
    EXPECT_TRUE(std::isinf(r[180]));
    EXPECT_FLOAT_EQ(r[0], 1.0f);  // the left border from outside
}

// ------------------------------------------------------------ fast against reference

namespace {

struct Pose {
    b2Vec2 pos;
    float heading;
};

void ExpectSameReadings(const Map& map, const Pose& pose, const std::vector<RadarObstacle>& others) {
    const std::vector<float> fast = map.ScanRadar(pose.pos, pose.heading, others);
    const std::vector<float> ref = map.ScanRadarReference(pose.pos, pose.heading, others);
    ASSERT_EQ(fast.size(), 360u);
    ASSERT_EQ(ref.size(), 360u);
    for (int beam = 0; beam < 360; ++beam) {
        ASSERT_EQ(Bits(fast[beam]), Bits(ref[beam]))
            << "pos " << pose.pos.x << "," << pose.pos.y << " heading " << pose.heading << " beam " << beam
            << " fast " << fast[beam] << " reference " << ref[beam] << " (" << others.size() << " others)";
    }
}

// Headings of every kind: any float in [-10, 10], whole degrees (up to two
// turns either way, as floats), and their neighbours one float step off.
float RandomHeading(std::mt19937& rng) {
    switch (rng() % 4) {
        case 0: return std::uniform_real_distribution<float>(-10.0f, 10.0f)(rng);
        case 1: return static_cast<float>((static_cast<int>(rng() % 1441) - 720) * PI / 180.0);
        case 2: return static_cast<float>((static_cast<int>(rng() % 17) - 8) * PI / 4.0);
        default: {
            const float h = static_cast<float>((static_cast<int>(rng() % 9) - 4) * PI / 2.0);
            return std::nextafter(h, (rng() % 2) ? 100.0f : -100.0f);
        }
    }
}

// Positions anywhere, on cell centres, on cell corners and cell edges (the
// outline's corners and edges among them), and one float step off those.
b2Vec2 RandomPosition(std::mt19937& rng) {
    std::uniform_real_distribution<float> any(0.0f, 50.0f);
    auto grid = [&](int steps) { return static_cast<float>(rng() % (steps + 1)) * (50.0f / steps); };
    b2Vec2 p;
    switch (rng() % 5) {
        case 0: p = b2Vec2(any(rng), any(rng)); break;
        case 1: p = b2Vec2(0.25f + 0.5f * (rng() % 100), 0.25f + 0.5f * (rng() % 100)); break;
        case 2: p = b2Vec2(grid(100), grid(100)); break;
        case 3: p = b2Vec2(grid(200), grid(100)); break;
        default: p = b2Vec2(grid(100), grid(200)); break;
    }
    if (rng() % 4 == 0) {
        float& axis = (rng() % 2) ? p.x : p.y;
        axis = std::nextafter(axis, (rng() % 2) ? 50.0f : 0.0f);
    }
    return p;
}

std::vector<RadarObstacle> RandomOthers(std::mt19937& rng, const b2Vec2& self) {
    std::vector<RadarObstacle> others;
    const int count = static_cast<int>(rng() % 8);
    std::uniform_real_distribution<float> any(0.5f, 49.5f);
    std::uniform_real_distribution<float> close(-2.0f, 2.0f);
    while (static_cast<int>(others.size()) < count) {
        RadarObstacle o{any(rng), any(rng), static_cast<int32_t>(rng() % 2 ? 0 : 1 + rng() % 7)};
        if (rng() % 3 == 0) o = {self.x + close(rng), self.y + close(rng), o.product};
        const float dx = o.x - self.x;
        const float dy = o.y - self.y;
        if (dx * dx + dy * dy < 0.9f * 0.9f) continue;  // never overlapping the scanning robot
        others.push_back(o);
    }
    return others;
}

void CompareRandomPoses(const Map& map, int count, uint32_t seed) {
    std::mt19937 rng(seed);
    for (int i = 0; i < count; ++i) {
        const Pose pose{RandomPosition(rng), RandomHeading(rng)};
        const std::vector<RadarObstacle> others = (i % 2) ? RandomOthers(rng, pose.pos) : NONE;
        ExpectSameReadings(map, pose, others);
        if (testing::Test::HasFatalFailure()) return;
    }
}

// Every corner of the outline and the middle of every segment, at a few
// headings, beams through the corners among them.
void CompareOutlinePoses(const Map& map, size_t maxSegments) {
    const std::vector<MapSegment>& segs = map.GetSegments();
    const float headings[] = {0.0f, -0.5f, 7.0f, static_cast<float>(PI / 4), static_cast<float>(-PI * 3 / 2)};
    const size_t stride = segs.size() > maxSegments ? segs.size() / maxSegments : 1;
    for (size_t k = 0; k < segs.size(); k += stride) {
        const MapSegment& s = segs[k];
        const b2Vec2 points[] = {{s.x1 * 0.5f, s.y1 * 0.5f}, {(s.x1 + s.x2) * 0.25f, (s.y1 + s.y2) * 0.25f}};
        for (const b2Vec2& p : points) {
            for (float h : headings) {
                ExpectSameReadings(map, {p, h}, NONE);
                if (testing::Test::HasFatalFailure()) return;
            }
        }
    }
}

}  // namespace

TEST(LidarFast, HeadingsOutsideOneTurnMatchTheReference) {
    const Map map = LoadFile("demo");
    for (float heading : {-0.5f, 7.0f, -7.0f, 100.0f, -100.0f, 6.2831855f, -6.2831855f, -0.0f, -1e-30f}) {
        ExpectSameReadings(map, {b2Vec2(17.3f, 8.9f), heading}, NONE);
        ExpectSameReadings(map, {b2Vec2(8.75f, 11.25f), heading}, NONE);
    }
    // Beams taken from the heading reduced into one turn would differ here by
    // one float step (beam 205).
    ExpectSameReadings(map, {b2Vec2(28.000001907348633f, 46.5f), -11.431906700134277f}, NONE);
}

TEST(LidarFast, BeamsThroughSilhouetteCornersMatchTheReference) {
    // From a cell centre the diagonals run through cell corners; with the
    // heading a float of 12 degrees, beam 303 passes 6e-9 rad beside the
    // corner (30, 10) of a block, which the reference counts as a hit.
    const Map map = LoadFile("demo");
    ExpectSameReadings(map, {b2Vec2(8.75f, 11.25f), 0.209439516f}, NONE);
    EXPECT_NEAR(map.ScanRadar(b2Vec2(8.75f, 11.25f), 0.209439516f, NONE)[303], 12.5 * std::sqrt(2.0) / 2, 1e-5);
    ExpectSameReadings(map, {b2Vec2(42.75f, 22.75f), -0.663225114f}, NONE);
    // The same just before beam 0, where a span ends 6e-9 rad short of beam
    // 0 (as beam 360): at 135 degrees as a float, and at the smallest
    // positive heading.
    const Map dense = LoadFile("dense");
    ExpectSameReadings(dense, {b2Vec2(6.5f, 2.5f), 2.3561944961547852f}, NONE);
    EXPECT_NEAR(dense.ScanRadar(b2Vec2(6.5f, 2.5f), 2.3561944961547852f, NONE)[0], std::sqrt(2.0), 1e-6);
    ExpectSameReadings(map, {b2Vec2(14.5f, 26.5f), std::numeric_limits<float>::denorm_min()}, NONE);
    EXPECT_EQ(map.ScanRadar(b2Vec2(14.5f, 26.5f), std::numeric_limits<float>::denorm_min(), NONE)[0], 7.5f);
}

TEST(LidarFast, MatchesTheReferenceOnTheDemoMap) {
    const Map map = LoadFile("demo");
    CompareRandomPoses(map, 3000, 1);
    CompareOutlinePoses(map, 1000);
}

TEST(LidarFast, MatchesTheReferenceOnTheDenseMap) {
    const Map map = LoadFile("dense");
    CompareRandomPoses(map, 100, 2);
    CompareOutlinePoses(map, 12);
}

TEST(LidarFast, MatchesTheReferenceOnTheEmptyMap) {
    const Map map = LoadFile("empty");
    CompareRandomPoses(map, 1000, 3);
    CompareOutlinePoses(map, 10);
}

TEST(LidarFast, MatchesTheReferenceOnSmallObstacles) {
    // Single cells and corner-touching pairs: short segments whose spans lie
    // between two beams, crossing runs, edges on the border.
    std::vector<std::pair<int, int>> cells = {{0, 0}, {99, 99}, {0, 50}, {50, 0}, {40, 40}, {41, 41}, {41, 39}};
    std::mt19937 rng(4);
    for (int i = 0; i < 40; ++i) cells.emplace_back(rng() % 100, rng() % 100);
    const Map map = LoadWithObstacles(cells);
    CompareRandomPoses(map, 1000, 5);
    CompareOutlinePoses(map, 100);
}

// The physics world: walls, obstacle boxes, the frame counter and the
// collision impulses that reach the robots.
#include <gtest/gtest.h>

#include <memory>

#include "Map.h"
#include "Robot.h"
#include "RobotTestSupport.h"
#include "World.h"

namespace {

struct Box {
    float minX, minY, maxX, maxY;
};

bool operator==(const Box& a, const Box& b) {
    return a.minX == b.minX && a.minY == b.minY && a.maxX == b.maxX && a.maxY == b.maxY;
}

std::ostream& operator<<(std::ostream& out, const Box& box) {
    return out << "x " << box.minX << ".." << box.maxX << ", y " << box.minY << ".." << box.maxY;
}

// The rectangle that a body's box fixture covers, from its polygon's corners.
Box CoveredBox(b2Body* body) {
    const auto* shape = static_cast<const b2PolygonShape*>(body->GetFixtureList()->GetShape());
    Box box{1e9f, 1e9f, -1e9f, -1e9f};
    for (int32 i = 0; i < shape->m_count; ++i) {
        const b2Vec2 p = body->GetWorldPoint(shape->m_vertices[i]);
        box.minX = std::min(box.minX, p.x);
        box.minY = std::min(box.minY, p.y);
        box.maxX = std::max(box.maxX, p.x);
        box.maxY = std::max(box.maxY, p.y);
    }
    return box;
}

std::vector<b2Body*> Bodies(b2World& world) {
    std::vector<b2Body*> bodies;
    for (b2Body* body = world.GetBodyList(); body; body = body->GetNext()) bodies.push_back(body);
    return bodies;
}

bool HasBox(const std::vector<b2Body*>& bodies, const Box& wanted) {
    for (b2Body* body : bodies) {
        if (CoveredBox(body) == wanted) return true;
    }
    return false;
}

// A world with the walls and obstacles of the rows.
std::unique_ptr<World> MakeWorld(std::vector<std::vector<char>> rows) {
    Map map;
    EXPECT_TRUE(map.Load(rows));
    auto world = std::make_unique<World>();
    EXPECT_TRUE(world->Init(map));
    return world;
}

// A circle body shaped and marked as a robot's normal body; owner null
// leaves the body without its robot.
b2Body* AddRobotBody(World& world, Robot* owner, b2Vec2 pos, b2Vec2 velocity) {
    b2BodyDef bodyDef;
    bodyDef.type = b2_dynamicBody;
    bodyDef.position = pos;
    bodyDef.linearVelocity = velocity;
    bodyDef.linearDamping = 0.1f;
    bodyDef.angularDamping = 0.1f;
    bodyDef.bullet = true;
    bodyDef.userData.pointer = reinterpret_cast<uintptr_t>(owner);
    b2CircleShape circle;
    circle.m_radius = ROBOT_RADIUS;
    b2FixtureDef fixtureDef;
    fixtureDef.shape = &circle;
    fixtureDef.density = 20.0f;
    fixtureDef.friction = 0.01f;
    fixtureDef.restitution = 0.5f;
    fixtureDef.restitutionThreshold = 1.0f;
    fixtureDef.userData.pointer = ROBOT_FIXTURE_MARK;
    b2Body* body = world.GetB2World().CreateBody(&bodyDef);
    body->CreateFixture(&fixtureDef);
    return body;
}

void StepTimes(World& world, int steps) {
    for (int i = 0; i < steps; ++i) world.Step();
}

// A robot of each player, without bodies of their own.
class RobotPairTest : public testing::Test {
protected:
    RobotPairTest() {
        m_first.m_iPlayer = 0;
        m_second.m_iPlayer = 1;
    }
    void ExpectFirstHasHalf() const {
        EXPECT_GT(m_second.m_fImpact, 0.0f);
        EXPECT_EQ(FloatBits(m_first.m_fImpact), FloatBits(m_second.m_fImpact * 0.5f));
    }
    Robot m_first;
    Robot m_second;
};

}  // namespace

TEST(WorldTest, MapWithoutObstaclesHasExactlyTheFourWalls) {
    std::unique_ptr<World> world = MakeWorld(EmptyMapRows());
    const std::vector<b2Body*> bodies = Bodies(world->GetB2World());
    ASSERT_EQ(bodies.size(), 4u);
    // Inner faces on 0 and 50; the side walls reach past the corners.
    EXPECT_TRUE(HasBox(bodies, Box{0.0f, 50.0f, 50.0f, 66.0f})) << "top";
    EXPECT_TRUE(HasBox(bodies, Box{0.0f, -16.0f, 50.0f, 0.0f})) << "bottom";
    EXPECT_TRUE(HasBox(bodies, Box{50.0f, -16.0f, 66.0f, 66.0f})) << "right";
    EXPECT_TRUE(HasBox(bodies, Box{-16.0f, -16.0f, 0.0f, 66.0f})) << "left";

    for (b2Body* body : bodies) {
        EXPECT_EQ(body->GetType(), b2_staticBody);
        EXPECT_EQ(body->GetAngle(), 0.0f);
        EXPECT_EQ(body->GetUserData().pointer, 0u);
        b2Fixture* fixture = body->GetFixtureList();
        ASSERT_NE(fixture, nullptr);
        EXPECT_EQ(fixture->GetNext(), nullptr);
        EXPECT_EQ(fixture->GetType(), b2Shape::e_polygon);
        EXPECT_EQ(fixture->GetShape()->m_radius, b2_polygonRadius);
        EXPECT_EQ(fixture->GetFriction(), 0.02f);
        EXPECT_EQ(fixture->GetRestitution(), 0.5f);
        EXPECT_EQ(fixture->GetRestitutionThreshold(), 1.0f);
        EXPECT_EQ(fixture->GetDensity(), 0.0f);
        EXPECT_FALSE(fixture->IsSensor());
        EXPECT_EQ(fixture->GetFilterData().categoryBits, 0x0001);
        EXPECT_EQ(fixture->GetFilterData().maskBits, 0xFFFF);
        EXPECT_EQ(fixture->GetFilterData().groupIndex, 0);
        EXPECT_EQ(fixture->GetUserData().pointer, 0u);
    }
}

TEST(WorldTest, EachObstacleCellGetsOneBoxCoveringIt) {
    std::vector<std::vector<char>> rows = EmptyMapRows();
    rows[10][20] = '#';
    rows[10][21] = '#';  // its neighbour: a touching box of its own
    rows[0][0] = '#';
    rows[99][99] = '#';
    std::unique_ptr<World> world = MakeWorld(rows);
    const std::vector<b2Body*> bodies = Bodies(world->GetB2World());
    ASSERT_EQ(bodies.size(), 8u);

    const struct {
        int row, col;
    } cells[] = {{10, 20}, {10, 21}, {0, 0}, {99, 99}};
    for (const auto& cell : cells) {
        const Box wanted{0.5f * cell.col, 50.0f - 0.5f * (cell.row + 1), 0.5f * cell.col + 0.5f, 50.0f - 0.5f * cell.row};
        EXPECT_TRUE(HasBox(bodies, wanted)) << "cell " << cell.row << "," << cell.col << ": " << wanted;
    }
}

TEST(WorldTest, FrameCounterStartsAtOneAndStepRaisesIt) {
    EXPECT_EQ(GetCurrentFrame(), 1);
    Game::GetInstance()->GetWorld().Step();
    EXPECT_EQ(GetCurrentFrame(), 2);

    World world;
    EXPECT_EQ(world.GetFrame(), 1);
    world.Step();
    EXPECT_EQ(world.GetFrame(), 2);
}

// The same hit on the left wall, once by a first-player robot and once by a
// second-player robot, each in a world of its own.
TEST_F(RobotPairTest, FirstPlayerRobotCollectsHalfTheImpulseOfTheSameWallHit) {
    std::unique_ptr<World> firstWorld = MakeWorld(EmptyMapRows());
    std::unique_ptr<World> secondWorld = MakeWorld(EmptyMapRows());
    AddRobotBody(*firstWorld, &m_first, b2Vec2(2.0f, 25.0f), b2Vec2(-3.0f, 0.0f));
    AddRobotBody(*secondWorld, &m_second, b2Vec2(2.0f, 25.0f), b2Vec2(-3.0f, 0.0f));
    StepTimes(*firstWorld, 40);
    StepTimes(*secondWorld, 40);
    ExpectFirstHasHalf();
}

// One contact between the two robots: each gets its impulses.
TEST_F(RobotPairTest, BothRobotsOfOneCollisionCollectItsImpulse) {
    std::unique_ptr<World> world = MakeWorld(EmptyMapRows());
    AddRobotBody(*world, &m_first, b2Vec2(20.0f, 25.0f), b2Vec2(2.0f, 0.0f));
    AddRobotBody(*world, &m_second, b2Vec2(22.0f, 25.0f), b2Vec2(-2.0f, 0.0f));
    StepTimes(*world, 30);
    ExpectFirstHasHalf();
}

TEST(WorldTest, RobotPressedAgainstAWallAddsImpulseEveryStep) {
    Robot robot;
    robot.m_iPlayer = 1;
    std::unique_ptr<World> world = MakeWorld(EmptyMapRows());
    b2Body* body = AddRobotBody(*world, &robot, b2Vec2(ROBOT_RADIUS, 25.0f), b2Vec2(0.0f, 0.0f));
    float previous = robot.m_fImpact;
    for (int step = 1; step <= 20; ++step) {
        body->ApplyForceToCenter(b2Vec2(-100.0f, 0.0f), true);
        world->Step();
        EXPECT_GT(robot.m_fImpact, previous) << "step " << step;
        previous = robot.m_fImpact;
    }
}

// A fixture marked as a robot's on a body without its robot: the check
// fails, and the rest of that contact's report is skipped.
TEST(WorldTest, RobotFixtureWithoutRobotLogsTheFailedCheck) {
    const struct {
        const char* name;
        bool orphanFirst;  // the earlier body becomes fixture A of the contact
        const char* expression;
        bool otherCollects;
    } cases[] = {
        {"orphan is fixture A", true, "pObjA->GetUserData().pointer", false},
        {"orphan is fixture B", false, "pObjB->GetUserData().pointer", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Robot other;
        other.m_iPlayer = 1;
        std::unique_ptr<World> world = MakeWorld(EmptyMapRows());
        const b2Vec2 left(20.0f, 25.0f), right(22.0f, 25.0f), toRight(2.0f, 0.0f), toLeft(-2.0f, 0.0f);
        if (c.orphanFirst) {
            AddRobotBody(*world, nullptr, left, toRight);
            AddRobotBody(*world, &other, right, toLeft);
        } else {
            AddRobotBody(*world, &other, left, toRight);
            AddRobotBody(*world, nullptr, right, toLeft);
        }
        LogCapture log(LOG_LEVEL_ASSERT);
        StepTimes(*world, 30);
        const std::string text = log.Take();
        EXPECT_NE(text.find(std::string("|World::PostSolve|frame[") + std::to_string(GetCurrentFrame()) +
                            "]|assert \"" + c.expression + "\" failed\n"),
                  std::string::npos)
            << text;
        EXPECT_EQ(text.find("[ASSERT]Robot/World.cpp:L|"), 0u) << text;
        EXPECT_EQ(other.m_fImpact > 0.0f, c.otherCollects);
    }
}

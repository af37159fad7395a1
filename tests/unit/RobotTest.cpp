// ctest-labels: threads
// Robots: their bodies, the drive step, the body switch, the angle wrap and
// trading.  The first player's robots start their lidar workers, so this
// program starts threads.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <memory>
#include <vector>

#include "Player.h"
#include "Robot.h"
#include "RobotTestSupport.h"
#include "Workbench.h"

namespace {

constexpr float STEP = 0.02f;

b2World& GameWorld() { return Game::GetInstance()->GetWorld().GetB2World(); }
Player& GamePlayer(int index) { return Game::GetInstance()->GetPlayer(index); }

// The velocity that one physics step gives a free body under the force: the
// library's own integration, v' = (v + h / m × F) × 1 / (1 + h × damping).
b2Vec2 VelocityAfterStep(b2Body* body, b2Vec2 velocity, b2Vec2 force) {
    b2Vec2 v = velocity + (STEP * (1.0f / body->GetMass())) * force;
    v *= 1.0f / (1.0f + STEP * body->GetLinearDamping());
    return v;
}

float AngularVelocityAfterStep(b2Body* body, float omega, float torque) {
    float w = omega + STEP * (1.0f / body->GetInertia()) * torque;
    w *= 1.0f / (1.0f + STEP * body->GetAngularDamping());
    return w;
}

bool TouchesAnything(b2Body* body) {
    for (b2ContactEdge* edge = body->GetContactList(); edge; edge = edge->next) {
        if (edge->contact->IsTouching()) return true;
    }
    return false;
}

void ExpectSameVec(b2Vec2 actual, b2Vec2 expected) {
    EXPECT_EQ(FloatBits(actual.x), FloatBits(expected.x)) << actual.x << " vs " << expected.x;
    EXPECT_EQ(FloatBits(actual.y), FloatBits(expected.y)) << actual.y << " vs " << expected.y;
}

// Robots made in the game's physics world; their bodies are removed again
// after each test, so that no body outlives its robot.
class RobotTest : public testing::Test {
protected:
    Robot& MakeRobot(int player, int id, b2Vec2 pos) {
        m_robots.push_back(std::make_unique<Robot>());
        Robot& robot = *m_robots.back();
        EXPECT_TRUE(robot.Init(player, id, pos));
        return robot;
    }

    b2Body* MakeStaticBox(b2Vec2 centre, float halfSize) {
        b2BodyDef bodyDef;
        bodyDef.position = centre;
        b2Body* body = GameWorld().CreateBody(&bodyDef);
        b2PolygonShape box;
        box.SetAsBox(halfSize, halfSize);
        body->CreateFixture(&box, 0.0f);
        m_bodies.push_back(body);
        return body;
    }

    void TearDown() override {
        for (std::unique_ptr<Robot>& robot : m_robots) {
            if (robot->m_normalBody) GameWorld().DestroyBody(robot->m_normalBody);
            if (robot->m_carryBody) GameWorld().DestroyBody(robot->m_carryBody);
        }
        m_robots.clear();
        for (b2Body* body : m_bodies) GameWorld().DestroyBody(body);
        m_bodies.clear();
    }

    std::vector<std::unique_ptr<Robot>> m_robots;
    std::vector<b2Body*> m_bodies;
};

}  // namespace

// ---------------------------------------------------------------- bodies

TEST_F(RobotTest, BodiesAndLimitsFollowThePlayer) {
    const struct {
        int player;
        float density, maxForce, maxTorque, maxSpeed;
        bool hasWorker;
    } cases[] = {
        {0, 20.0f, 250.0f, 50.0f, 6.0f, true},
        {1, 15.0f, 187.5f, 37.5f, 7.0f, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.player);
        const b2Vec2 start(10.25f + 5.0f * c.player, 20.75f);
        Robot& robot = MakeRobot(c.player, 2, start);
        EXPECT_EQ(robot.m_iPlayer, c.player);
        EXPECT_EQ(robot.m_iId, 2);
        ASSERT_NE(robot.m_normalBody, nullptr);
        ASSERT_NE(robot.m_carryBody, nullptr);
        EXPECT_EQ(robot.m_pBody, robot.m_normalBody);
        EXPECT_TRUE(robot.m_normalBody->IsEnabled());
        EXPECT_FALSE(robot.m_carryBody->IsEnabled());

        const struct {
            b2Body* body;
            float radius;
        } bodies[] = {{robot.m_normalBody, ROBOT_RADIUS}, {robot.m_carryBody, ROBOT_CARRY_RADIUS}};
        for (const auto& b : bodies) {
            SCOPED_TRACE(b.radius);
            EXPECT_EQ(b.body->GetType(), b2_dynamicBody);
            ExpectSameVec(b.body->GetPosition(), start);
            EXPECT_EQ(b.body->GetAngle(), 0.0f);
            EXPECT_EQ(b.body->GetLinearDamping(), 0.1f);
            EXPECT_EQ(b.body->GetAngularDamping(), 0.1f);
            EXPECT_TRUE(b.body->IsBullet());
            EXPECT_TRUE(b.body->IsSleepingAllowed());
            EXPECT_FALSE(b.body->IsFixedRotation());
            EXPECT_EQ(b.body->GetGravityScale(), 1.0f);
            EXPECT_EQ(b.body->GetUserData().pointer, reinterpret_cast<uintptr_t>(&robot));
            b2Fixture* fixture = b.body->GetFixtureList();
            ASSERT_NE(fixture, nullptr);
            EXPECT_EQ(fixture->GetNext(), nullptr);
            ASSERT_EQ(fixture->GetType(), b2Shape::e_circle);
            const auto* circle = static_cast<const b2CircleShape*>(fixture->GetShape());
            EXPECT_EQ(circle->m_radius, b.radius);
            EXPECT_EQ(circle->m_p.x, 0.0f);
            EXPECT_EQ(circle->m_p.y, 0.0f);
            EXPECT_EQ(fixture->GetUserData().pointer, 1u);
            EXPECT_EQ(fixture->GetDensity(), c.density);
            EXPECT_EQ(fixture->GetFriction(), 0.01f);
            EXPECT_EQ(fixture->GetRestitution(), 0.5f);
            EXPECT_EQ(fixture->GetRestitutionThreshold(), 1.0f);
            EXPECT_FALSE(fixture->IsSensor());
            EXPECT_EQ(fixture->GetFilterData().categoryBits, 0x0001);
            EXPECT_EQ(fixture->GetFilterData().maskBits, 0xFFFF);
            EXPECT_EQ(fixture->GetFilterData().groupIndex, 0);
            EXPECT_EQ(b.body->GetMass(), c.density * b2_pi * b.radius * b.radius);
        }
        EXPECT_EQ(robot.m_fMaxForce, c.maxForce);
        EXPECT_EQ(robot.m_fMaxTorque, c.maxTorque);
        EXPECT_EQ(robot.m_fMaxSpeed, c.maxSpeed);
        EXPECT_EQ(robot.m_fMinSpeed, -2.0f);
        EXPECT_EQ(FloatBits(robot.m_fMaxRotate), 0x40490FDBu);
        EXPECT_EQ(robot.m_iProduct, 0);
        EXPECT_EQ(robot.m_iBuyFrame, -1);
        EXPECT_EQ(robot.m_pThread != nullptr, c.hasWorker);
    }
}

TEST_F(RobotTest, InitRefusesBadArgumentsAndASecondSetUp) {
    Robot& robot = MakeRobot(1, 0, b2Vec2(5.25f, 5.25f));
    {
        LogCapture log(LOG_LEVEL_NONE);
        EXPECT_FALSE(robot.Init(1, 0, b2Vec2(6.25f, 5.25f)));
        Robot unset;
        EXPECT_FALSE(unset.Init(2, 0, b2Vec2(7.25f, 5.25f)));
        EXPECT_FALSE(unset.Init(-1, 0, b2Vec2(7.25f, 5.25f)));
        EXPECT_FALSE(unset.Init(0, 4, b2Vec2(7.25f, 5.25f)));
        EXPECT_EQ(unset.m_normalBody, nullptr);
        EXPECT_EQ(unset.m_pThread, nullptr);
    }
    ExpectSameVec(robot.m_pBody->GetPosition(), b2Vec2(5.25f, 5.25f));
}

// ---------------------------------------------------------------- drive step

// From rest the forward speed asked for is far away, so the force is the
// limit itself, along the heading; the sideways part is zero.
TEST_F(RobotTest, DriveFromRestPushesWithTheForceLimitAlongTheHeading) {
    const struct {
        const char* name;
        int player;
        float heading, target, force;
    } cases[] = {
        {"first player, heading 0", 0, 0.0f, 6.0f, 250.0f},
        {"first player, heading 0.7", 0, 0.7f, 6.0f, 250.0f},
        {"first player, heading -2.5", 0, -2.5f, 6.0f, 250.0f},
        {"second player, heading 1.0", 1, 1.0f, 7.0f, 187.5f},
        {"first player reversing", 0, 0.3f, -2.0f, -250.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Robot& robot = MakeRobot(c.player, 1, b2Vec2(25.0f, 25.0f));
        robot.m_pBody->SetTransform(robot.m_pBody->GetPosition(), c.heading);
        robot.m_fTargetSpeed = c.target;
        robot.UpdateMotion();
        GameWorld().Step(STEP, 20, 20);

        const b2Vec2 force(cosf(c.heading) * c.force, sinf(c.heading) * c.force);
        ExpectSameVec(robot.m_pBody->GetLinearVelocity(), VelocityAfterStep(robot.m_pBody, b2Vec2(0, 0), force));
        EXPECT_EQ(robot.m_pBody->GetAngularVelocity(), 0.0f);
        TearDown();
    }
}

TEST_F(RobotTest, DriveReachesTheTargetSpeedAndHoldsIt) {
    const struct {
        int player;
        float target;
    } cases[] = {{0, 6.0f}, {1, 7.0f}, {0, -2.0f}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        Robot& robot = MakeRobot(c.player, 3, b2Vec2(25.0f, 25.0f));
        robot.m_pBody->SetTransform(robot.m_pBody->GetPosition(), 0.0f);
        robot.m_fTargetSpeed = c.target;
        for (int frame = 0; frame < 150; ++frame) {
            robot.UpdateMotion();
            GameWorld().Step(STEP, 20, 20);
            // Keep it clear of everything: only the speed matters here.
            robot.m_pBody->SetTransform(b2Vec2(25.0f, 25.0f), robot.m_pBody->GetAngle());
        }
        EXPECT_NEAR(robot.m_pBody->GetLinearVelocity().x, c.target, 1e-4f);
        EXPECT_NEAR(robot.m_pBody->GetLinearVelocity().y, 0.0f, 1e-4f);
        EXPECT_EQ(robot.m_fTargetSpeed, c.target);  // the drive step never resets the targets
        TearDown();
    }
}

// Both targets 0 on a fast robot: the forward force, the sideways force and
// the torque all work against the motion, each at its own limit.  The
// sideways direction is the heading plus pi/2, not wrapped again.
TEST_F(RobotTest, BothTargetsZeroBrakeAtTheLimits) {
    const struct {
        const char* name;
        float heading;
        b2Vec2 velocity;
        float omega;
    } cases[] = {
        {"heading 0, drifting left", 0.0f, b2Vec2(5.0f, 1.0f), 1.5f},
        {"heading 1.65: the sideways angle passes pi", 1.65f, b2Vec2(-4.0f, 2.0f), -2.0f},
        {"heading -1.2", -1.2f, b2Vec2(1.0f, -4.5f), 3.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Robot& robot = MakeRobot(0, 0, b2Vec2(25.0f, 25.0f));
        b2Body* body = robot.m_pBody;
        body->SetTransform(body->GetPosition(), c.heading);
        body->SetLinearVelocity(c.velocity);
        body->SetAngularVelocity(c.omega);
        robot.UpdateMotion();
        GameWorld().Step(STEP, 20, 20);

        const float across = c.heading + 1.5707964f;
        const b2Vec2 forward(cosf(c.heading), sinf(c.heading));
        const b2Vec2 side(cosf(across), sinf(across));
        const float forwardForce = b2Dot(forward, c.velocity) > 0.0f ? -250.0f : 250.0f;
        const float sideForce = b2Dot(side, c.velocity) > 0.0f ? -250.0f : 250.0f;
        const float torque = c.omega > 0.0f ? -50.0f : 50.0f;
        const b2Vec2 force((0.0f + forward.x * forwardForce) + side.x * sideForce,
                           (0.0f + forward.y * forwardForce) + side.y * sideForce);
        ExpectSameVec(body->GetLinearVelocity(), VelocityAfterStep(body, c.velocity, force));
        EXPECT_EQ(FloatBits(body->GetAngularVelocity()), FloatBits(AngularVelocityAfterStep(body, c.omega, torque)));

        EXPECT_LT(std::fabs(b2Dot(forward, body->GetLinearVelocity())), std::fabs(b2Dot(forward, c.velocity)));
        EXPECT_LT(std::fabs(b2Dot(side, body->GetLinearVelocity())), std::fabs(b2Dot(side, c.velocity)));
        EXPECT_LT(std::fabs(body->GetAngularVelocity()), std::fabs(c.omega));
        TearDown();
    }
}

// Below the limits one step brings a slow robot to a stop.
TEST_F(RobotTest, BothTargetsZeroStopASlowRobotInOneStep) {
    Robot& robot = MakeRobot(1, 0, b2Vec2(25.0f, 25.0f));
    robot.m_pBody->SetTransform(robot.m_pBody->GetPosition(), 0.4f);
    robot.m_pBody->SetLinearVelocity(b2Vec2(0.1f, -0.05f));
    robot.m_pBody->SetAngularVelocity(0.2f);
    robot.UpdateMotion();
    GameWorld().Step(STEP, 20, 20);
    EXPECT_NEAR(robot.m_pBody->GetLinearVelocity().x, 0.0f, 1e-6f);
    EXPECT_NEAR(robot.m_pBody->GetLinearVelocity().y, 0.0f, 1e-6f);
    EXPECT_NEAR(robot.m_pBody->GetAngularVelocity(), 0.0f, 1e-6f);
}

// ---------------------------------------------------------------- body switch

TEST_F(RobotTest, BodySwitchKeepsPlaceAndMotion) {
    Robot& robot = MakeRobot(1, 2, b2Vec2(10.0f, 10.0f));
    robot.m_pBody->SetTransform(b2Vec2(10.3f, 9.7f), 1.2f);
    robot.m_pBody->SetLinearVelocity(b2Vec2(1.5f, -0.5f));
    robot.m_pBody->SetAngularVelocity(0.8f);
    for (b2Body* expected : {robot.m_carryBody, robot.m_normalBody}) {
        b2Body* before = robot.m_pBody;
        robot.SwitchBody();
        ASSERT_EQ(robot.m_pBody, expected);
        EXPECT_TRUE(robot.m_pBody->IsEnabled());
        EXPECT_FALSE(before->IsEnabled());
        ExpectSameVec(robot.m_pBody->GetPosition(), before->GetPosition());
        EXPECT_EQ(FloatBits(robot.m_pBody->GetAngle()), FloatBits(before->GetAngle()));
        ExpectSameVec(robot.m_pBody->GetLinearVelocity(), before->GetLinearVelocity());
        EXPECT_EQ(FloatBits(robot.m_pBody->GetAngularVelocity()), FloatBits(before->GetAngularVelocity()));
    }
}

// A box 0.5 m from the centre: out of reach of the normal body (0.45 m),
// within reach of the carry body (0.53 m).
TEST_F(RobotTest, OnlyTheActiveBodyCollides) {
    Robot& robot = MakeRobot(1, 0, b2Vec2(20.0f, 20.0f));
    MakeStaticBox(b2Vec2(21.0f, 20.0f), 0.5f);
    GameWorld().Step(STEP, 20, 20);
    EXPECT_FALSE(TouchesAnything(robot.m_normalBody));

    robot.SwitchBody();
    GameWorld().Step(STEP, 20, 20);
    EXPECT_TRUE(TouchesAnything(robot.m_carryBody));
    EXPECT_FALSE(TouchesAnything(robot.m_normalBody));
}

// ---------------------------------------------------------------- angle wrap

TEST(NormalizeAngleTest, WrapsIntoMinusPiToPiWithHalvesAwayFromZero) {
    const struct {
        const char* name;
        uint32_t in, out;
    } cases[] = {
        {"pi", 0x40490FDBu, 0xC0490FDBu},
        {"-pi", 0xC0490FDBu, 0x40490FDBu},
        {"3pi/2", 0x4096CBE4u, 0xBFC90FDCu},
        {"0", 0x00000000u, 0x00000000u},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FloatBits(NormalizeAngle(BitsFloat(c.in))), c.out) << c.name;
    }
    for (float a : {-20.0f, -7.0f, -3.2f, 1.0f, 3.2f, 6.3f, 100.0f}) {
        const float r = NormalizeAngle(a);
        EXPECT_LE(std::fabs(r), 3.1415927f) << a;
        EXPECT_NEAR(std::remainder(static_cast<double>(a) - r, 2.0 * M_PI), 0.0, 1e-5) << a;
    }
}

namespace {

// The wrap as plain steps of 2π after the first reduction: the results that
// every angle below 1e6 must keep.  For some huge angles it never ends.
float SteppedNormalizeAngle(float angle) {
    const float twoPi = 6.2831855f;
    float r = angle - roundf(angle / twoPi) * twoPi;
    while (r > 3.1415927f) r = r + (-twoPi);
    while (-3.1415927f > r) r = r + twoPi;
    return r;
}

// False, with a failure, when a or -a wraps otherwise than by the plain steps.
bool ExpectSameAsSteps(float a) {
    for (float angle : {a, -a}) {
        const uint32_t got = FloatBits(NormalizeAngle(angle));
        const uint32_t expected = FloatBits(SteppedNormalizeAngle(angle));
        if (got != expected) {
            ADD_FAILURE() << std::hex << "angle 0x" << FloatBits(angle) << " (" << angle << ") gives 0x" << got
                          << ", the plain steps 0x" << expected;
            return false;
        }
    }
    return true;
}

}  // namespace

TEST(NormalizeAngleTest, BelowAMillionTheResultIsThatOfThePlainStepsToTheBit) {
    // Every 127th float from 0 to 1e6, so that every binade is met many times.
    for (uint32_t bits = 0; bits < FloatBits(1e6f); bits += 127) {
        if (!ExpectSameAsSteps(BitsFloat(bits))) return;
    }
    // Whole and half turns and the floats around them, where the rounding of
    // step 1 and the number of steps change.
    const float twoPi = 6.2831855f;
    for (int k = 0; static_cast<float>(k) * twoPi < 1e6f; ++k) {
        for (float turn : {static_cast<float>(k) * twoPi, (static_cast<float>(k) + 0.5f) * twoPi,
                           static_cast<float>(2 * k + 1) * 3.1415927f}) {
            if (turn == 0.0f) continue;  // its neighbours are in the sweep above
            for (int ulps = -2; ulps <= 2; ++ulps) {
                if (!ExpectSameAsSteps(BitsFloat(FloatBits(turn) + ulps))) return;
            }
        }
    }
}

TEST(NormalizeAngleTest, ReturnsForEveryAngle) {
    const float huge[] = {1e30f, 7.6e22f, 67108864.0f, 1e10f, 2.7e10f, 1e15f, 1e20f, 1e35f, FLT_MAX};
    for (float magnitude : huge) {
        for (float a : {magnitude, -magnitude}) {
            const float r = NormalizeAngle(a);
            EXPECT_LE(std::fabs(r), 3.1415927f) << a;
        }
    }
    for (float a : {INFINITY, -INFINITY, NAN}) EXPECT_TRUE(std::isnan(NormalizeAngle(a))) << a;
}

// ---------------------------------------------------------------- trading

namespace {

// A workbench of the player at pos, stepped until its first product is ready
// (types 1 to 3) or, for types 4 to 7, fed with all its materials first.
int AddReadyWorkbench(int player, int type, b2Vec2 pos) {
    WorkbenchList& list = GamePlayer(player).GetWorkbenches();
    list.Add(Workbench(type, pos));
    const int idx = list.Size() - 1;
    Workbench& workbench = list.At(idx);
    for (size_t slot = 0; slot < workbench.m_material.size(); ++slot)
        EXPECT_GE(workbench.Sell(workbench.m_material[slot].id, GetCurrentFrame(), 0.0f), 0);
    for (int step = 0; step < 2000 && !workbench.m_bReady; ++step) workbench.Step();
    EXPECT_TRUE(workbench.m_bReady);
    return idx;
}

struct TradeState {
    int32_t money, product, buyFrame;
    float impact;
    bool carrying;
};

TradeState StateOf(const Robot& robot, int32_t money) {
    return TradeState{money, robot.m_iProduct, robot.m_iBuyFrame, robot.m_fImpact, robot.m_pBody == robot.m_carryBody};
}

void ExpectSameState(const TradeState& a, const TradeState& b) {
    EXPECT_EQ(a.money, b.money);
    EXPECT_EQ(a.product, b.product);
    EXPECT_EQ(a.buyFrame, b.buyFrame);
    EXPECT_EQ(a.impact, b.impact);
    EXPECT_EQ(a.carrying, b.carrying);
}

}  // namespace

// Each refusal is one INFO line of the robot and leaves money, load and
// workbench as they were.
TEST_F(RobotTest, RefusedTradesLogWhyAndChangeNothing) {
    const b2Vec2 own(3.25f, 45.25f);
    const b2Vec2 others(6.25f, 45.25f);
    const int ownIdx = AddReadyWorkbench(1, 1, own);
    AddReadyWorkbench(0, 1, others);
    enum Op { BUY, SELL, DESTROY };
    const struct {
        const char* name;
        Op op;
        b2Vec2 pos;
        int carried;
        const char* function;
        const char* message;
    } cases[] = {
        {"buy at the other player's workbench", BUY, others, 0, "Robot::Buy", "Not near any workbench\n"},
        {"buy 0.41 m from the own workbench", BUY, own + b2Vec2(0.41f, 0.0f), 0, "Robot::Buy",
         "Not near any workbench\n"},
        {"buy while carrying", BUY, own, 2, "Robot::Buy", "Robot already get product:2\n"},
        {"sell with nothing carried", SELL, own, 0, "Robot::Sell", "There's no product on the robot\n"},
        {"sell away from own workbenches", SELL, others, 1, "Robot::Sell", "Not near any workbench\n"},
        {"destroy with nothing carried", DESTROY, own, 0, "Robot::DestroyProduct",
         "There's no product on the robot\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Robot& robot = MakeRobot(1, 0, c.pos);
        if (c.carried) robot.AddProduct(c.carried);
        robot.m_fImpact = 12.5f;
        int32_t money = 200000;
        const TradeState before = StateOf(robot, money);

        LogCapture log;
        bool done = false;
        switch (c.op) {
            case BUY: done = robot.Buy(money); break;
            case SELL: done = robot.Sell(money); break;
            case DESTROY: done = robot.DestroyProduct(); break;
        }
        EXPECT_FALSE(done);
        EXPECT_EQ(log.Take(), ExpectedLogLine("INFO", "Robot/Robot.cpp", c.function, c.message));
        ExpectSameState(StateOf(robot, money), before);
        EXPECT_TRUE(GamePlayer(1).GetWorkbenches().At(ownIdx).m_bReady);
        TearDown();
    }
}

// A refusal by the workbench: its own line, and the robot keeps everything.
TEST_F(RobotTest, TradesTheWorkbenchRefusesKeepTheState) {
    const b2Vec2 pos(3.25f, 40.25f);
    const int idx = AddReadyWorkbench(1, 4, pos);  // takes 1 and 2, makes 4
    const struct {
        const char* name;
        int carried;
        int32_t money;
        bool buy;
        const char* message;
    } cases[] = {
        {"buy with too little money", 0, 15399, true, "Money is not enough: 15399  expect 15400"},
        {"sell a product it does not take", 3, 200000, false, "Can not sell product:3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Robot& robot = MakeRobot(1, 1, pos);
        if (c.carried) robot.AddProduct(c.carried);
        robot.m_fImpact = 42.0f;
        int32_t money = c.money;
        const TradeState before = StateOf(robot, money);
        LogCapture log;
        EXPECT_FALSE(c.buy ? robot.Buy(money) : robot.Sell(money));
        const std::string text = log.Take();
        EXPECT_NE(text.find(c.message), std::string::npos) << text;
        EXPECT_EQ(text.find("Robot::"), std::string::npos) << text;
        ExpectSameState(StateOf(robot, money), before);
        EXPECT_TRUE(GamePlayer(1).GetWorkbenches().At(idx).m_bReady);
        TearDown();
    }
}

TEST_F(RobotTest, PurchaseTakesTheProductAtFullValue) {
    for (int i = 0; i < 4; ++i) Game::GetInstance()->GetWorld().Step();
    const int frame = GetCurrentFrame();
    const b2Vec2 pos(3.25f, 35.25f);
    const int idx = AddReadyWorkbench(0, 3, pos);
    Robot& robot = MakeRobot(0, 1, pos);
    robot.m_fImpact = 300.0f;  // collected while empty-handed: forgotten on purchase
    int32_t money = 200000;

    LogCapture log;
    EXPECT_TRUE(robot.Buy(money));
    EXPECT_EQ(log.Take(), "");
    EXPECT_EQ(money, 200000 - 5800);
    EXPECT_EQ(robot.m_iProduct, 3);
    EXPECT_EQ(robot.m_iBuyFrame, frame);
    EXPECT_EQ(robot.m_fImpact, 0.0f);
    EXPECT_EQ(robot.m_pBody, robot.m_carryBody);
    ExpectSameVec(robot.m_pBody->GetPosition(), pos);
    EXPECT_FALSE(GamePlayer(0).GetWorkbenches().At(idx).m_bReady);
    EXPECT_EQ(FloatBits(robot.GetValueRate()), FloatBits(1.0f));
    EXPECT_EQ(FloatBits(robot.GetTimeRate()), FloatBits(1.0f));
    EXPECT_EQ(FloatBits(robot.GetImpactRate()), FloatBits(1.0f));
}

TEST_F(RobotTest, SellThenBuyAtOneWorkbenchInOneGo) {
    const b2Vec2 pos(8.25f, 35.25f);
    const int idx = AddReadyWorkbench(1, 4, pos);
    Robot& robot = MakeRobot(1, 2, pos);
    robot.AddProduct(1);
    ASSERT_EQ(robot.m_pBody, robot.m_carryBody);
    int32_t money = 200000;

    EXPECT_TRUE(robot.Sell(money));
    EXPECT_EQ(money, 200000 + 6000);  // sold in the frame of its purchase, without impact
    EXPECT_EQ(robot.m_iProduct, 0);
    EXPECT_EQ(robot.m_iBuyFrame, -1);
    EXPECT_EQ(robot.m_pBody, robot.m_normalBody);

    EXPECT_TRUE(robot.Buy(money));
    EXPECT_EQ(money, 200000 + 6000 - 15400);
    EXPECT_EQ(robot.m_iProduct, 4);
    EXPECT_EQ(robot.m_pBody, robot.m_carryBody);
    const Workbench& workbench = GamePlayer(1).GetWorkbenches().At(idx);
    EXPECT_FALSE(workbench.m_bReady);
    EXPECT_TRUE(workbench.m_material[0].present);
}

TEST_F(RobotTest, DestroyEmptiesTheRobotWithoutMoney) {
    Robot& robot = MakeRobot(0, 2, b2Vec2(12.25f, 12.25f));
    robot.AddProduct(6);
    robot.m_fImpact = 77.0f;
    LogCapture log;
    EXPECT_TRUE(robot.DestroyProduct());
    EXPECT_EQ(log.Take(), "");
    EXPECT_EQ(robot.m_iProduct, 0);
    EXPECT_EQ(robot.m_iBuyFrame, -1);
    EXPECT_EQ(robot.m_fImpact, 0.0f);
    EXPECT_EQ(robot.m_pBody, robot.m_normalBody);
    EXPECT_TRUE(robot.m_normalBody->IsEnabled());
    EXPECT_FALSE(robot.m_carryBody->IsEnabled());
}

TEST_F(RobotTest, EmptyHandedRobotReportsZeroRates) {
    Robot& robot = MakeRobot(1, 3, b2Vec2(14.25f, 12.25f));
    robot.m_fImpact = 1500.0f;
    EXPECT_EQ(FloatBits(robot.GetTimeRate()), 0u);
    EXPECT_EQ(FloatBits(robot.GetImpactRate()), 0u);
    EXPECT_EQ(FloatBits(robot.GetValueRate()), 0u);
}

TEST_F(RobotTest, NearWorkbenchIndexCountsOwnWorkbenchesOnly) {
    const b2Vec2 first(20.25f, 45.25f), second(22.25f, 45.25f), others(24.25f, 45.25f);
    GamePlayer(1).GetWorkbenches().Add(Workbench(5, first));
    const int secondIdx = GamePlayer(1).GetWorkbenches().Size();
    GamePlayer(1).GetWorkbenches().Add(Workbench(6, second));
    GamePlayer(0).GetWorkbenches().Add(Workbench(6, others));

    Robot& robot = MakeRobot(1, 0, second + b2Vec2(0.0f, 0.3f));
    EXPECT_EQ(robot.GetNearWorkbenchIdx(), secondIdx);
    robot.AddProduct(2);
    EXPECT_EQ(robot.GetNearWorkbenchIdx(), secondIdx);
    robot.m_pBody->SetTransform(others, 0.0f);
    EXPECT_EQ(robot.GetNearWorkbenchIdx(), -1);
    robot.m_pBody->SetTransform(second + b2Vec2(0.0f, 0.45f), 0.0f);
    EXPECT_EQ(robot.GetNearWorkbenchIdx(), -1);
}

// A load and a body that disagree: the check fails, the load changes, the body stays.
TEST_F(RobotTest, LoadAndBodyOutOfStepLogTheFailedCheck) {
    Robot& robot = MakeRobot(1, 1, b2Vec2(16.25f, 12.25f));
    robot.SwitchBody();  // carry body while empty-handed
    {
        LogCapture log(LOG_LEVEL_ASSERT);
        robot.AddProduct(3);
        EXPECT_EQ(log.Take(), ExpectedLogLine("ASSERT", "Robot/Robot.cpp", "Robot::AddProduct",
                                              "assert \"m_pBody == m_normalBody\" failed\n"));
    }
    EXPECT_EQ(robot.m_iProduct, 3);
    EXPECT_EQ(robot.m_pBody, robot.m_carryBody);

    robot.SwitchBody();  // normal body while carrying
    {
        LogCapture log(LOG_LEVEL_ASSERT);
        robot.DelProduct();
        EXPECT_EQ(log.Take(), ExpectedLogLine("ASSERT", "Robot/Robot.cpp", "Robot::DelProduct",
                                              "assert \"m_pBody == m_carryBody\" failed\n"));
    }
    EXPECT_EQ(robot.m_iProduct, 0);
    EXPECT_EQ(robot.m_pBody, robot.m_normalBody);
}

// ---------------------------------------------------------------- lidar release

// No map and no players: the release and the wait return at once without
// workers, and a worker with nothing to scan finishes its frame too.
TEST_F(RobotTest, LidarReleaseNeverWaitsForMissingWorkers) {
    for (int frame = 0; frame < 3; ++frame) {
        Robot::StartRadarTasks();
        Robot::WaitRadarTasks();
    }
    Robot& robot = MakeRobot(0, 3, b2Vec2(30.25f, 30.25f));
    for (int frame = 0; frame < 3; ++frame) {
        Robot::StartRadarTasks();
        Robot::WaitRadarTasks();
    }
    EXPECT_TRUE(robot.m_radar.empty());
    EXPECT_EQ(Robot::m_taskBits.load(), 0u);
    EXPECT_EQ(Robot::m_doneBits.load(), 0u);
}

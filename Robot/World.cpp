#include "World.h"

#include <vector>

#include "Game.h"
#include "Log.h"
#include "Map.h"
#include "Robot.h"

namespace {

constexpr float WALL_HALF_THICKNESS = 8.0f;  // metres

void AddStaticBox(b2World& world, b2BodyDef& bodyDef, const b2FixtureDef& fixtureDef, b2Vec2 centre) {
    bodyDef.position = centre;
    b2Body* body = world.CreateBody(&bodyDef);
    body->CreateFixture(&fixtureDef);
}

// A first-player robot takes half of every impulse, which evens out its
// heavier body against the second player's lighter one.
void AddImpulses(Robot* robot, const b2ContactImpulse* impulse) {
    for (int32 i = 0; i < impulse->count; ++i) {
        float normal = impulse->normalImpulses[i];
        if (robot->m_iPlayer == 0) normal = normal * 0.5f;
        robot->m_fImpact = robot->m_fImpact + normal;
    }
}

// The impulses to the robot of a robot fixture (other fixtures take none);
// false when the fixture is a robot's but its body carries no robot.
bool AddFixtureImpulses(b2Fixture* fixture, const b2ContactImpulse* impulse) {
    if (fixture->GetUserData().pointer != ROBOT_FIXTURE_MARK) return true;
    const uintptr_t robot = fixture->GetBody()->GetUserData().pointer;
    if (!robot) return false;
    AddImpulses(reinterpret_cast<Robot*>(robot), impulse);
    return true;
}

}  // namespace

World::World() : m_b2World(b2Vec2(0.0f, 0.0f)) { m_b2World.SetContactListener(this); }

World::~World() = default;

bool World::Init(const Map& map) { return CreateMapBodies(map); }

bool World::CreateMapBodies(const Map& map) {
    b2PolygonShape shape;
    b2BodyDef bodyDef;
    bodyDef.type = b2_staticBody;
    bodyDef.angle = 0.0f;
    b2FixtureDef fixtureDef;
    fixtureDef.shape = &shape;
    fixtureDef.friction = 0.02f;
    fixtureDef.restitution = 0.5f;
    fixtureDef.restitutionThreshold = 1.0f;
    fixtureDef.density = 0.0f;
    fixtureDef.isSensor = false;
    fixtureDef.userData.pointer = 0;

    // The walls, 16 m thick, overlap at the corners, so that nothing slips
    // out diagonally.
    constexpr float HALF = MAP_SIZE / 2.0f;
    constexpr float WALL = WALL_HALF_THICKNESS;
    shape.SetAsBox(HALF, WALL);
    AddStaticBox(m_b2World, bodyDef, fixtureDef, b2Vec2(HALF, MAP_SIZE + WALL));
    AddStaticBox(m_b2World, bodyDef, fixtureDef, b2Vec2(HALF, -WALL));
    shape.SetAsBox(WALL, HALF + 2.0f * WALL);
    AddStaticBox(m_b2World, bodyDef, fixtureDef, b2Vec2(MAP_SIZE + WALL, HALF));
    AddStaticBox(m_b2World, bodyDef, fixtureDef, b2Vec2(-WALL, HALF));

    const std::vector<std::vector<char>>& rows = map.GetMapData();
    if (rows.empty() || rows[0].empty()) return true;
    const float width = static_cast<float>(rows[0].size());
    const float height = static_cast<float>(rows.size());
    shape.SetAsBox((MAP_SIZE / width) * 0.5f, (MAP_SIZE / height) * 0.5f);
    for (const b2Vec2& centre : map.GetPosList('#')) AddStaticBox(m_b2World, bodyDef, fixtureDef, centre);
    return true;
}

void World::Step() {
    m_frame.fetch_add(1, std::memory_order_relaxed);
    m_b2World.Step(0.02f, 20, 20);
}

void World::PostSolve(b2Contact* contact, const b2ContactImpulse* impulse) {
    // A robot fixture whose body has no robot ends the contact's impulses
    // there, before fixture B is looked at.
    if (!AddFixtureImpulses(contact->GetFixtureA(), impulse)) {
        LOG_ASSERT_FAILED("pObjA->GetUserData().pointer");
        return;
    }
    if (!AddFixtureImpulses(contact->GetFixtureB(), impulse)) LOG_ASSERT_FAILED("pObjB->GetUserData().pointer");
}

int GetCurrentFrame() { return Game::GetInstance()->GetWorld().GetFrame(); }

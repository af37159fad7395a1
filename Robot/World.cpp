#include "World.h"

#include <vector>

#include "Game.h"
#include "Log.h"
#include "Map.h"
#include "Robot.h"

namespace {

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

    // The walls overlap at the corners, so that nothing slips out diagonally.
    shape.SetAsBox(25.0f, 8.0f);
    AddStaticBox(m_b2World, bodyDef, fixtureDef, b2Vec2(25.0f, 58.0f));
    AddStaticBox(m_b2World, bodyDef, fixtureDef, b2Vec2(25.0f, -8.0f));
    shape.SetAsBox(8.0f, 41.0f);
    AddStaticBox(m_b2World, bodyDef, fixtureDef, b2Vec2(58.0f, 25.0f));
    AddStaticBox(m_b2World, bodyDef, fixtureDef, b2Vec2(-8.0f, 25.0f));

    const std::vector<std::vector<char>>& rows = map.GetMapData();
    if (rows.empty() || rows[0].empty()) return true;
    const float width = static_cast<float>(rows[0].size());
    const float height = static_cast<float>(rows.size());
    shape.SetAsBox((50.0f / width) * 0.5f, (50.0f / height) * 0.5f);
    for (const b2Vec2& centre : map.GetPosList('#')) AddStaticBox(m_b2World, bodyDef, fixtureDef, centre);
    return true;
}

void World::Step() {
    m_frame.fetch_add(1, std::memory_order_relaxed);
    m_b2World.Step(0.02f, 20, 20);
}

void World::PostSolve(b2Contact* contact, const b2ContactImpulse* impulse) {
    b2Fixture* pFixA = contact->GetFixtureA();
    if (pFixA->GetUserData().pointer == ROBOT_FIXTURE_MARK) {
        b2Body* pObjA = pFixA->GetBody();
        if (!pObjA->GetUserData().pointer) {
            LOG_ASSERT_FAILED("pObjA->GetUserData().pointer");
            return;
        }
        AddImpulses(reinterpret_cast<Robot*>(pObjA->GetUserData().pointer), impulse);
    }
    b2Fixture* pFixB = contact->GetFixtureB();
    if (pFixB->GetUserData().pointer == ROBOT_FIXTURE_MARK) {
        b2Body* pObjB = pFixB->GetBody();
        if (!pObjB->GetUserData().pointer) {
            LOG_ASSERT_FAILED("pObjB->GetUserData().pointer");
            return;
        }
        AddImpulses(reinterpret_cast<Robot*>(pObjB->GetUserData().pointer), impulse);
    }
}

int GetCurrentFrame() { return Game::GetInstance()->GetWorld().GetFrame(); }

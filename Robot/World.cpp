#include "World.h"

#include "Game.h"
#include "Log.h"
#include "Map.h"

World::World() : m_b2World(b2Vec2(0.0f, 0.0f)) { m_b2World.SetContactListener(this); }

World::~World() = default;

bool World::Init(const Map& map) { return CreateMapBodies(map); }

bool World::CreateMapBodies(const Map&) { return true; }

void World::Step() {
    m_frame.fetch_add(1, std::memory_order_relaxed);
    m_b2World.Step(0.02f, 20, 20);
}

void World::PostSolve(b2Contact*, const b2ContactImpulse*) {}

int GetCurrentFrame() { return Game::GetInstance()->GetWorld().GetFrame(); }

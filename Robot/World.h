// The physics world of the arena and the frame counter of the whole system.
//
// Threads: built with the Game; Init on the main thread at start-up; Step
// (and with it PostSolve) on the game thread only.  The lidar workers read
// robot bodies only while the game thread waits for them, never during Step.
// The frame counter is read by every thread's log lines, so it is a relaxed
// atomic written only by Step.
#pragma once

#include <box2d/box2d.h>

#include <atomic>

class Map;

class World : private b2ContactListener {
public:
    World();
    ~World() override;

    // Builds the walls and obstacle boxes from the loaded map; always true.
    bool Init(const Map& map);
    bool CreateMapBodies(const Map& map);

    // Raises the frame counter, then steps the physics by 0.02 s, so that the
    // step's collision reports already carry the next frame's number.
    void Step();
    int GetFrame() const { return m_frame.load(std::memory_order_relaxed); }

    b2World& GetB2World() { return m_b2World; }

private:
    // Adds the normal impulses of a contact to the impact of each robot in it.
    void PostSolve(b2Contact* contact, const b2ContactImpulse* impulse) override;

    std::atomic<int> m_frame{1};
    b2World m_b2World;
};

// The current frame number, as every log line prints it.
int GetCurrentFrame();

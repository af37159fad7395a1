// One robot: its two physics bodies, motion targets, carried product and lidar.
//
// Threads: Init on the main thread; drive step, trading and body switch on
// the game thread; the lidar workers read the bodies and write m_radar only
// between StartRadarTasks and WaitRadarTasks.
#pragma once

constexpr float ROBOT_RADIUS = 0.45f;        // radius of the empty-handed body, metres
constexpr float ROBOT_CARRY_RADIUS = 0.53f;  // radius of the carrying body, metres

// Wraps an angle into [-pi, pi] in single precision (halves away from zero).
float NormalizeAngle(float angle);

class Robot {
public:
    // Releases the four lidar workers for this frame / waits until all have finished.
    static void StartRadarTasks();
    static void WaitRadarTasks();
};

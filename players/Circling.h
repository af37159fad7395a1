// How circler drives: each robot has its own speed and turn rate, and the
// turn rate drifts slowly, so the circles wander over the arena and the
// lidar keeps finding new cells.  Shared with the test players that drive
// alike, so that their matches cost the referee what a circler match costs.
#pragma once

#include <cmath>

#include "PlayerIO.h"

namespace playerio {

inline void AddCirclingCommands(int frame, Answer& answer) {
    for (int id = 0; id < 4; ++id) {
        double speed = 2.0 + 0.5 * id;
        double sign = (id % 2 == 0) ? 1.0 : -1.0;
        double drift = 0.6 * std::sin(frame * 0.004 + id * 1.3);
        answer.Command("forward", id, speed);
        answer.Command("rotate", id, sign * (1.0 + drift));
    }
}

}  // namespace playerio

#include "Robot.h"

#include <cmath>

float NormalizeAngle(float angle) {
    const float twoPi = 6.2831855f;
    float r = angle - roundf(angle / twoPi) * twoPi;
    while (r > 3.1415927f) r = r + (-twoPi);
    while (-3.1415927f > r) r = r + twoPi;
    return r;
}

void Robot::StartRadarTasks() {}

void Robot::WaitRadarTasks() {}

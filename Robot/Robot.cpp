#include "Robot.h"

void Robot::StartRadarTasks() {}

void Robot::WaitRadarTasks() {}

// The shortcuts the referee takes: work skipped because its result is known
// already (a scan whose inputs did not change, a beam that cannot find a new
// cell, a lidar line whose readings did not change), and work moved to
// other threads (tasks the game thread takes over from the lidar workers,
// images encoded on their own thread).  None may change what a match
// writes.  The plain referee, built with ZV_PLAIN_PATH defined (the CMake
// option ZV_PLAIN_REFEREE), takes none of them, so that tests can hold the
// two against each other.
#pragma once

#ifdef ZV_PLAIN_PATH
constexpr bool TAKE_SHORTCUTS = false;
#else
constexpr bool TAKE_SHORTCUTS = true;
#endif

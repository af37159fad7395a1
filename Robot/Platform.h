// The seam to the operating system.
//
// Everything the referee needs of the system (the clock, yielding, ending
// the process, making a directory, child processes and their pipes) is
// reached through this module and nothing else names a system call.  Tests
// replace the clock through SetCounterForTest.
#pragma once

#include <cstdint>

namespace Platform {

// A monotonic high-resolution counter and its ticks per second (the
// frequency never changes during a run).
int64_t PerformanceCounter();
int64_t PerformanceFrequency();

// Replaces the counter (ticks of PerformanceFrequency) for a test; null
// restores the system's clock.
void SetCounterForTest(int64_t (*counter)());

// Gives up the rest of the time slice; not an alertable wait.
void YieldThread();

// Creates one directory; false when it could not be made (it may exist).
bool MakeDirectory(const char* path);

}  // namespace Platform

// Ends the process at once with the code: no static destructors, no exit
// handlers, every thread ends with it; child processes are left running.
[[noreturn]] void QuitProcess(int code);

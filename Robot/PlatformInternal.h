// What the seam's own sources share (Platform.cpp, PlatformProcesses.cpp,
// PlatformPipes.cpp); nothing outside the seam includes this header.
#pragma once

#include <time.h>

#include <cstdint>

namespace Platform {

// The counter's ticks per second: microseconds, so that counter × 1000
// stays far from int64 overflow for any uptime.
constexpr int64_t COUNTER_FREQUENCY = 1000000;

// The system's counter, whatever a test put in its place.
int64_t SystemCounter();
// The monotonic clock's time at which SystemCounter reaches the value.
timespec CounterTime(int64_t counter);
// Whether a test has replaced the counter (SetCounterForTest): the waits
// for a counter value (SleepUntil, WaitForPipes) then return at once.
bool HasTestCounter();

// Records the code as the calling thread's last error (LastError); false,
// for the caller to return.
bool Fail(int code);

// Adds the time from its making to its end to the calling thread's time
// blocked in the seam's waits, which EstimatedRunDelayNs leaves out.
class BlockedTime {
public:
    BlockedTime();
    ~BlockedTime();
    BlockedTime(const BlockedTime&) = delete;
    BlockedTime& operator=(const BlockedTime&) = delete;

private:
    int64_t m_startNs;
};

// A write into a pipe whose reader has gone must fail with EPIPE, not end
// the referee.  A handler someone else installed is left alone.  Any number
// of calls.
void IgnoreBrokenPipeSignal();

}  // namespace Platform

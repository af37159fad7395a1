// The seam to the operating system, and its system basics.
//
// Everything the referee needs of the system is reached through the seam's
// three headers, and nothing else names a system call:
// - this one: the clock, sleeping, waiting and waking threads, starting
//   them, the processors the process may use and how busy they are, the
//   scheduler's time slices, the layer's errors, making a directory and
//   ending the process;
// - PlatformProcesses.h: child processes (the command line's split, their
//   start and end);
// - PlatformPipes.h: the pipes to them and the asynchronous reads and
//   writes on those pipes.
// Tests replace the clock through SetCounterForTest, and the processors and
// their load through SetProcessorsAllowedForTest and SetRunDelayForTest.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace Platform {

// ---------------------------------------------------------------- clock

// A monotonic high-resolution counter and its ticks per second (the
// frequency never changes during a run).
int64_t PerformanceCounter();
int64_t PerformanceFrequency();

// Replaces the counter (ticks of PerformanceFrequency) for a test; null
// restores the system's clock.
void SetCounterForTest(int64_t (*counter)());

// The monotonic clock in nanoseconds, for measuring short waits.
int64_t NowNs();

// ---------------------------------------------------------------- waiting

// Sleeps until PerformanceCounter reaches the value.  A test counter moves
// only when it is read, so with one the call returns at once.
void SleepUntil(int64_t counter);

// Sleeps for the milliseconds given (a test counter makes no difference).
void SleepMs(int64_t ms);

// Blocks the calling thread while word holds value: returns once woken by
// Wake, at once when the word holds another value, or now and then for no
// reason, so callers test their condition again.
void WaitWhileEqual(const std::atomic<uint32_t>& word, uint32_t value);
// Wakes at most count of the threads blocked in WaitWhileEqual on word.
void Wake(const std::atomic<uint32_t>& word, int count);

// Lets another thread that waits for the calling thread's processor run
// first; returns at once when none does.
void GiveWay();

// ---------------------------------------------------------------- threads and processors

// Starts a thread that runs body.  False (with LastError) when the system
// gives no further thread.
bool StartThread(std::unique_ptr<std::thread>& thread, std::function<void()> body);

// The processors this process may keep busy: those of its affinity mask,
// or fewer when its control group's processor quota allows fewer (a part of
// a processor counts as one; byQuota then tells so); at least 1.  Read anew
// at each call.
int ProcessorsAllowed(bool* byQuota = nullptr);

// The time the calling thread has spent ready to run but waiting for a
// processor, in nanoseconds since it began: as the system's scheduler
// statistics tell it, or where they are missing (or hidden), as
// EstimatedRunDelayNs finds it.
int64_t ThreadRunDelayNs();

// The time the calling thread has not spent on a processor, nor blocked in
// a wait of this layer, since its first call: what it lost to other threads
// while it could have run (a wake-up's delay is not in it).
int64_t EstimatedRunDelayNs();

// Replace what the two functions above report, for a test: count 0 and a
// null function restore the system's own figures.
void SetProcessorsAllowedForTest(int count);
void SetRunDelayForTest(int64_t (*runDelayNs)());

// How the scheduler slices the calling thread's time.  Short slices get the
// thread a processor soon after it wakes up, even on a busy machine; its
// share of the processors stays the same.  Only the slice changes: the
// thread's policy and nice value stay as the user set them, and a thread
// under a real-time or deadline policy is left as it is, as is one whose
// system does not know the request or refuses it.  Threads it starts
// inherit the slice.
enum class TimeSlices { DEFAULT, SHORT };
void SetTimeSlices(TimeSlices slices);

// ---------------------------------------------------------------- errors

// The calling thread's last error of this layer (an errno value): set by
// every function of the seam that reports a failure, kept until the next
// failure.
uint32_t LastError();

// The system's text for an error code ("Unknown error N" when it has none).
std::string ErrorText(uint32_t code);

// ---------------------------------------------------------------- files and the process

// Creates one directory; false when it could not be made (it may exist).
bool MakeDirectory(const char* path);

// Ends the process at once with the code: no static destructors, no exit
// handlers, every thread ends with it; child processes are left running.
[[noreturn]] void QuitProcess(int code);

}  // namespace Platform

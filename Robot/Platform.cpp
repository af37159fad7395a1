#include "Platform.h"

#include <sched.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

namespace {

// Microseconds: counter × 1000 stays far from int64 overflow for any uptime.
constexpr int64_t COUNTER_FREQUENCY = 1000000;

std::atomic<int64_t (*)()> s_testCounter{nullptr};

int64_t SystemCounter() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * COUNTER_FREQUENCY + ts.tv_nsec / 1000;
}

}  // namespace

namespace Platform {

int64_t PerformanceCounter() {
    int64_t (*counter)() = s_testCounter.load(std::memory_order_relaxed);
    return counter ? counter() : SystemCounter();
}

int64_t PerformanceFrequency() { return COUNTER_FREQUENCY; }

void SetCounterForTest(int64_t (*counter)()) { s_testCounter.store(counter, std::memory_order_relaxed); }

void YieldThread() { sched_yield(); }

bool MakeDirectory(const char* path) { return mkdir(path, 0777) == 0; }

}  // namespace Platform

void QuitProcess(int code) { _exit(code); }

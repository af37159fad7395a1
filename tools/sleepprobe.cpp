// A task that sleeps 1 ms at a time, as a program that wakes up often does,
// and measures how much longer each sleep took than it asked for: on a
// busy machine that is mostly time spent ready to run, waiting for a
// processor.
//   zvsleepprobe <seconds> [report_ms]
// prints "sleeps N beyond_ms p50 A p99 B max C runq_ms R" (R: the time the
// task waited for a processor in all, from the scheduler's statistics, -1
// when the system does not tell) and, given report_ms, a line
// "late T beyond_ms B runq_ms R" for every sleep more than that late (T: the
// monotonic clock in seconds at its end), to match with a scheduler trace.
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int64_t SLEEP_NS = 1000000;

int64_t NowNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// The task's time spent waiting for a processor, in ns; -1 when unknown.
int64_t RunDelayNs(int fd) {
    if (fd < 0) return -1;
    char buf[128];
    ssize_t n = pread(fd, buf, sizeof buf - 1, 0);
    if (n <= 0) return -1;
    buf[n] = '\0';
    unsigned long long run = 0, wait = 0;
    if (sscanf(buf, "%llu %llu", &run, &wait) != 2) return -1;
    return static_cast<int64_t>(wait);
}

void SleepOnce() {
    timespec ts{0, SLEEP_NS};
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &ts, &ts) != 0) {
    }
}

double Ms(int64_t ns) { return ns / 1e6; }

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s <seconds> [report_ms]\n", argv[0]);
        return 2;
    }
    const int64_t runNs = static_cast<int64_t>(atof(argv[1]) * 1e9);
    const int64_t reportNs = argc > 2 ? static_cast<int64_t>(atof(argv[2]) * 1e6) : -1;
    const int statFd = open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
    const int64_t firstDelay = RunDelayNs(statFd);
    std::vector<int64_t> beyond;
    beyond.reserve(static_cast<size_t>(runNs / SLEEP_NS) + 1);
    const int64_t end = NowNs() + runNs;
    for (int64_t now = NowNs(); now < end;) {
        const int64_t delayBefore = reportNs >= 0 ? RunDelayNs(statFd) : 0;
        SleepOnce();
        const int64_t woke = NowNs();
        const int64_t late = woke - now - SLEEP_NS;
        beyond.push_back(late);
        if (reportNs >= 0 && late > reportNs) {
            printf("late %.6f beyond_ms %.3f runq_ms %.3f\n", woke / 1e9, Ms(late),
                   Ms(RunDelayNs(statFd) - delayBefore));
        }
        now = woke;
    }
    const int64_t lastDelay = RunDelayNs(statFd);
    if (beyond.empty()) return 1;
    std::sort(beyond.begin(), beyond.end());
    const size_t n = beyond.size();
    printf("sleeps %zu beyond_ms p50 %.3f p99 %.3f max %.3f runq_ms %.1f\n", n, Ms(beyond[n / 2]),
           Ms(beyond[n * 99 / 100]), Ms(beyond.back()), firstDelay < 0 ? -1.0 : Ms(lastDelay - firstDelay));
    return 0;
}

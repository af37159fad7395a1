#include "Platform.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <linux/sched.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "PlatformInternal.h"

namespace {

std::atomic<int64_t (*)()> s_testCounter{nullptr};

thread_local uint32_t t_lastError = 0;

// The scheduling attributes of a thread as the system's sched_getattr and
// sched_setattr take them (the first version of the record, 56 bytes).
struct SchedAttributes {
    uint32_t size;
    uint32_t policy;
    uint64_t flags;
    int32_t nice;
    uint32_t priority;
    uint64_t runtime;
    uint64_t deadline;
    uint64_t period;
    uint32_t utilMin;
    uint32_t utilMax;
};
static_assert(sizeof(SchedAttributes) == 56, "the system's first version of the record");

// Short enough that a thread asking for it gets a processor within a
// fraction of a millisecond of its wake-up on a busy machine.
constexpr uint64_t SHORT_TIME_SLICE_NS = 300000;

// The time the calling thread has spent blocked in this layer's waits.
thread_local int64_t t_blockedNs = 0;

int64_t ThreadCpuNs() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// The thread's run delay as its scheduler statistics tell it; -1 where
// the system has none (or hides them).
int64_t SchedStatRunDelayNs() {
    // Time on a processor, time waiting for one, time slices.  Kept open: it
    // is read again and again.
    thread_local int t_fd = open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
    if (t_fd < 0) return -1;
    char text[128];
    const ssize_t n = pread(t_fd, text, sizeof text - 1, 0);
    if (n <= 0) return -1;
    text[n] = '\0';
    unsigned long long running = 0;
    unsigned long long waiting = 0;
    if (sscanf(text, "%llu %llu", &running, &waiting) != 2) return -1;
    return static_cast<int64_t>(waiting);
}

std::atomic<int> s_processorsForTest{0};
std::atomic<int64_t (*)()> s_runDelayForTest{nullptr};

// The processors of the affinity mask, in a set as large as the machine needs.
int AffinityCount() {
    for (int size = 1024; size <= (1 << 20); size *= 2) {
        cpu_set_t* set = CPU_ALLOC(size);
        if (!set) return 1;
        const size_t bytes = CPU_ALLOC_SIZE(size);
        const bool got = sched_getaffinity(0, bytes, set) == 0;
        const int count = got ? CPU_COUNT_S(bytes, set) : 0;
        CPU_FREE(set);
        if (got) return std::max(1, count);
        if (errno != EINVAL) return 1;
    }
    return 1;
}

// The first line of a small file, without its line feed; empty when unreadable.
std::string ReadFirstLine(const std::string& path) {
    FILE* file = fopen(path.c_str(), "re");
    if (!file) return std::string();
    char line[512];
    const bool got = fgets(line, sizeof line, file) != nullptr;
    fclose(file);
    if (!got) return std::string();
    std::string text(line);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

// Where a control group hierarchy is mounted: the mount point and the
// hierarchy's folder that it shows (not "/" inside a container).
struct CgroupMount {
    std::string point;
    std::string root;
};

// The cgroup2 mount, or (v2 false) the cgroup v1 mount with the cpu controller.
bool FindCgroupMount(bool v2, CgroupMount& mount) {
    FILE* file = fopen("/proc/self/mountinfo", "re");
    if (!file) return false;
    char line[4096];
    bool found = false;
    while (!found && fgets(line, sizeof line, file)) {
        // "id parent major:minor root point options [tags] - type source superoptions"
        char root[1024];
        char point[1024];
        if (sscanf(line, "%*s %*s %*s %1023s %1023s", root, point) != 2) continue;
        const char* tail = strstr(line, " - ");
        if (!tail) continue;
        char type[64];
        char superOptions[1024];
        if (sscanf(tail, " - %63s %*s %1023s", type, superOptions) != 2) continue;
        if (v2) {
            found = strcmp(type, "cgroup2") == 0;
        } else if (strcmp(type, "cgroup") == 0) {
            const std::string options = std::string(",") + superOptions + ",";
            found = options.find(",cpu,") != std::string::npos;
        }
        if (found) mount = CgroupMount{point, root};
    }
    fclose(file);
    return found;
}

// This process's folder in the hierarchy ("0::/a/b" for cgroup2, "n:cpu,...:/a/b" for v1).
std::string CgroupPath(bool v2) {
    FILE* file = fopen("/proc/self/cgroup", "re");
    if (!file) return std::string();
    char line[4096];
    std::string path;
    while (path.empty() && fgets(line, sizeof line, file)) {
        std::string text(line);
        if (!text.empty() && text.back() == '\n') text.pop_back();
        const size_t first = text.find(':');
        const size_t second = first == std::string::npos ? first : text.find(':', first + 1);
        if (second == std::string::npos) continue;
        const std::string controllers = "," + text.substr(first + 1, second - first - 1) + ",";
        const bool match = v2 ? controllers == ",," : controllers.find(",cpu,") != std::string::npos;
        if (match) path = text.substr(second + 1);
    }
    fclose(file);
    return path;
}

// The processors one folder's quota allows, rounded up; 0 for no quota.
int FolderQuota(const std::string& folder, bool v2) {
    long long quota = -1;
    long long period = 0;
    if (v2) {
        const std::string max = ReadFirstLine(folder + "/cpu.max");
        if (sscanf(max.c_str(), "%lld %lld", &quota, &period) != 2) return 0;
    } else {
        quota = atoll(ReadFirstLine(folder + "/cpu.cfs_quota_us").c_str());
        period = atoll(ReadFirstLine(folder + "/cpu.cfs_period_us").c_str());
    }
    if (quota <= 0 || period <= 0) return 0;
    return static_cast<int>(std::min<long long>((quota + period - 1) / period, 1 << 20));
}

// The smallest quota of the process's folder and the folders above it, in
// one hierarchy; 0 for none.
int HierarchyQuota(bool v2) {
    CgroupMount mount;
    if (!FindCgroupMount(v2, mount)) return 0;
    std::string path = CgroupPath(v2);
    if (path.empty()) return 0;
    // The mount shows the hierarchy from its root folder down.
    if (mount.root != "/" && path.compare(0, mount.root.size(), mount.root) == 0) path = path.substr(mount.root.size());
    int smallest = 0;
    for (;;) {
        const int quota = FolderQuota(mount.point + path, v2);
        if (quota > 0 && (smallest == 0 || quota < smallest)) smallest = quota;
        const size_t slash = path.find_last_of('/');
        if (path.empty() || path == "/" || slash == std::string::npos) break;
        path = slash == 0 ? std::string("/") : path.substr(0, slash);
    }
    return smallest;
}

int QuotaProcessors() {
    const int v2 = HierarchyQuota(true);
    const int v1 = HierarchyQuota(false);
    if (v2 == 0 || v1 == 0) return std::max(v2, v1);
    return std::min(v2, v1);
}

}  // namespace

namespace Platform {

// ---------------------------------------------------------------- shared within the seam

int64_t SystemCounter() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * COUNTER_FREQUENCY + ts.tv_nsec / 1000;
}

timespec CounterTime(int64_t counter) {
    timespec ts;
    ts.tv_sec = static_cast<time_t>(counter / COUNTER_FREQUENCY);
    ts.tv_nsec = static_cast<long>(counter % COUNTER_FREQUENCY * (1000000000 / COUNTER_FREQUENCY));
    return ts;
}

bool HasTestCounter() { return s_testCounter.load(std::memory_order_relaxed) != nullptr; }

bool Fail(int code) {
    t_lastError = static_cast<uint32_t>(code);
    return false;
}

BlockedTime::BlockedTime() : m_startNs(NowNs()) {}

BlockedTime::~BlockedTime() { t_blockedNs += NowNs() - m_startNs; }

// ---------------------------------------------------------------- clock

int64_t PerformanceCounter() {
    int64_t (*counter)() = s_testCounter.load(std::memory_order_relaxed);
    return counter ? counter() : SystemCounter();
}

int64_t PerformanceFrequency() { return COUNTER_FREQUENCY; }

void SetCounterForTest(int64_t (*counter)()) { s_testCounter.store(counter, std::memory_order_relaxed); }

int64_t NowNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// ---------------------------------------------------------------- waiting

void SleepUntil(int64_t counter) {
    if (HasTestCounter()) return;
    const timespec until = CounterTime(counter);
    BlockedTime blocked;
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

void SleepMs(int64_t ms) {
    timespec left = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000 * 1000000)};
    BlockedTime blocked;
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

void WaitWhileEqual(const std::atomic<uint32_t>& word, uint32_t value) {
    static_assert(sizeof word == sizeof(uint32_t), "a futex is a plain 32-bit word");
    BlockedTime blocked;
    syscall(SYS_futex, &word, FUTEX_WAIT_PRIVATE, value, nullptr, nullptr, 0);
}

void Wake(const std::atomic<uint32_t>& word, int count) {
    syscall(SYS_futex, &word, FUTEX_WAKE_PRIVATE, count, nullptr, nullptr, 0);
}

void GiveWay() { sched_yield(); }

// ---------------------------------------------------------------- threads and processors

bool StartThread(std::unique_ptr<std::thread>& thread, std::function<void()> body) {
    try {
        thread = std::make_unique<std::thread>(std::move(body));
    } catch (const std::system_error& e) {
        thread.reset();
        return Fail(e.code().value());
    }
    return true;
}

int ProcessorsAllowed(bool* byQuota) {
    const int forTest = s_processorsForTest.load(std::memory_order_relaxed);
    if (byQuota) *byQuota = false;
    if (forTest > 0) return forTest;
    const int affinity = AffinityCount();
    const int quota = QuotaProcessors();
    if (quota <= 0 || quota >= affinity) return affinity;
    if (byQuota) *byQuota = true;
    return quota;
}

int64_t ThreadRunDelayNs() {
    int64_t (*forTest)() = s_runDelayForTest.load(std::memory_order_relaxed);
    if (forTest) return forTest();
    const int64_t delay = SchedStatRunDelayNs();
    return delay >= 0 ? delay : EstimatedRunDelayNs();
}

int64_t EstimatedRunDelayNs() {
    thread_local const int64_t t_startNs = NowNs();
    thread_local const int64_t t_startCpuNs = ThreadCpuNs();
    thread_local const int64_t t_startBlockedNs = t_blockedNs;
    thread_local int64_t t_lastNs = 0;
    const int64_t off = (NowNs() - t_startNs) - (ThreadCpuNs() - t_startCpuNs) - (t_blockedNs - t_startBlockedNs);
    // Clocks read one after another may disagree by a little; the figure
    // never goes back.
    t_lastNs = std::max(t_lastNs, off);
    return t_lastNs;
}

void SetProcessorsAllowedForTest(int count) { s_processorsForTest.store(count, std::memory_order_relaxed); }

void SetRunDelayForTest(int64_t (*runDelayNs)()) { s_runDelayForTest.store(runDelayNs, std::memory_order_relaxed); }

void SetTimeSlices(TimeSlices slices) {
    SchedAttributes attr;
    memset(&attr, 0, sizeof attr);
    if (syscall(SYS_sched_getattr, 0, &attr, sizeof attr, 0) != 0) return;
    // The slice belongs to the fair policies only; the others keep theirs.
    if (attr.policy != SCHED_NORMAL && attr.policy != SCHED_BATCH && attr.policy != SCHED_IDLE) return;
    attr.size = sizeof attr;
    // Written back as read, but for the slice: flags that ask for other
    // changes (clamps, keeping parameters) are not repeated.
    attr.flags &= SCHED_FLAG_RESET_ON_FORK;
    // 0 asks for the system's own slice.
    attr.runtime = slices == TimeSlices::SHORT ? SHORT_TIME_SLICE_NS : 0;
    syscall(SYS_sched_setattr, 0, &attr, 0);
}

// ---------------------------------------------------------------- errors

uint32_t LastError() { return t_lastError; }

std::string ErrorText(uint32_t code) {
    char buf[256];
    // The GNU strerror_r returns its text, which need not be in buf.
    return std::string(strerror_r(static_cast<int>(code), buf, sizeof buf));
}

// ---------------------------------------------------------------- files and the process

bool MakeDirectory(const char* path) { return mkdir(path, 0777) == 0; }

void QuitProcess(int code) { _exit(code); }

}  // namespace Platform

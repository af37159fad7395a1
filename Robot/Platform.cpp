#include "Platform.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <linux/futex.h>
#include <linux/sched.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace {

// Microseconds: counter × 1000 stays far from int64 overflow for any uptime.
constexpr int64_t COUNTER_FREQUENCY = 1000000;

std::atomic<int64_t (*)()> s_testCounter{nullptr};

int64_t SystemCounter() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * COUNTER_FREQUENCY + ts.tv_nsec / 1000;
}

// The monotonic clock's time at which SystemCounter reaches the value.
timespec CounterTime(int64_t counter) {
    timespec ts;
    ts.tv_sec = static_cast<time_t>(counter / COUNTER_FREQUENCY);
    ts.tv_nsec = static_cast<long>(counter % COUNTER_FREQUENCY * (1000000000 / COUNTER_FREQUENCY));
    return ts;
}

thread_local uint32_t t_lastError = 0;

// Records errno as the last error; returns false for the caller's convenience.
bool Fail(int code) {
    t_lastError = static_cast<uint32_t>(code);
    return false;
}

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

// Adds the time from its making to its end to the thread's blocked time.
class BlockedTime {
public:
    BlockedTime() : m_startNs(Platform::NowNs()) {}
    ~BlockedTime() { t_blockedNs += Platform::NowNs() - m_startNs; }
    BlockedTime(const BlockedTime&) = delete;
    BlockedTime& operator=(const BlockedTime&) = delete;

private:
    int64_t m_startNs;
};

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

int64_t PerformanceCounter() {
    int64_t (*counter)() = s_testCounter.load(std::memory_order_relaxed);
    return counter ? counter() : SystemCounter();
}

int64_t PerformanceFrequency() { return COUNTER_FREQUENCY; }

void SetCounterForTest(int64_t (*counter)()) { s_testCounter.store(counter, std::memory_order_relaxed); }

// ---------------------------------------------------------------- waiting

int64_t NowNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void SleepUntil(int64_t counter) {
    if (s_testCounter.load(std::memory_order_relaxed)) return;
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

// ---------------------------------------------------------------- files

bool MakeDirectory(const char* path) { return mkdir(path, 0777) == 0; }

}  // namespace Platform

void QuitProcess(int code) { _exit(code); }

// ---------------------------------------------------------------- errors

namespace Platform {

uint32_t LastError() { return t_lastError; }

std::string ErrorText(uint32_t code) {
    char buf[256];
    // The GNU strerror_r returns its text, which need not be in buf.
    return std::string(strerror_r(static_cast<int>(code), buf, sizeof buf));
}

}  // namespace Platform

// ---------------------------------------------------------------- command lines

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The program name: double quotes group and are dropped, a backslash is an
// ordinary character, a blank or tab outside quotes ends it.
std::string TakeProgramName(const std::string& line, size_t& pos) {
    std::string name;
    bool quoted = false;
    for (; pos < line.size(); ++pos) {
        char c = line[pos];
        if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && IsBlank(c)) {
            break;
        } else {
            name += c;
        }
    }
    return name;
}

// One argument after the program name:
// - blanks and tabs outside double quotes end it; a double quote opens or
//   closes a quoted run and is dropped;
// - inside a quoted run two double quotes in a row give one literal quote and
//   the run goes on;
// - 2n backslashes before a double quote give n backslashes and the quote
//   then opens or closes a run; 2n+1 backslashes before a double quote give n
//   backslashes and a literal quote;
// - backslashes not followed by a double quote are literal.
std::string TakeArgument(const std::string& line, size_t& pos) {
    std::string arg;
    bool quoted = false;
    while (pos < line.size()) {
        char c = line[pos];
        if (c == '\\') {
            size_t count = 0;
            while (pos < line.size() && line[pos] == '\\') {
                ++count;
                ++pos;
            }
            if (pos < line.size() && line[pos] == '"') {
                arg.append(count / 2, '\\');
                if (count % 2 == 1) {
                    arg += '"';
                    ++pos;
                }
            } else {
                arg.append(count, '\\');
            }
        } else if (c == '"') {
            if (quoted && pos + 1 < line.size() && line[pos + 1] == '"') {
                arg += '"';
                pos += 2;
            } else {
                quoted = !quoted;
                ++pos;
            }
        } else if (!quoted && IsBlank(c)) {
            break;
        } else {
            arg += c;
            ++pos;
        }
    }
    return arg;
}

void SkipBlanks(const std::string& line, size_t& pos) {
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
}

}  // namespace

namespace Platform {

std::vector<std::string> SplitCommandLine(const std::string& cmdLine) {
    std::vector<std::string> args;
    size_t pos = 0;
    SkipBlanks(cmdLine, pos);
    if (pos == cmdLine.size()) return args;
    args.push_back(TakeProgramName(cmdLine, pos));
    for (;;) {
        SkipBlanks(cmdLine, pos);
        if (pos == cmdLine.size()) return args;
        args.push_back(TakeArgument(cmdLine, pos));
    }
}

}  // namespace Platform

// ---------------------------------------------------------------- pipes

namespace {

// A write into a pipe whose reader has gone must fail with EPIPE, not end
// the referee.  A handler someone else installed is left alone.
void IgnoreBrokenPipeSignal() {
    static const bool s_done = [] {
        struct sigaction old;
        if (sigaction(SIGPIPE, nullptr, &old) == 0 && old.sa_handler == SIG_DFL) signal(SIGPIPE, SIG_IGN);
        return true;
    }();
    (void)s_done;
}

}  // namespace

namespace Platform {

bool CreatePipe(PipeDirection direction, PipeHandle& refereeEnd, PipeHandle& childEnd) {
    refereeEnd = INVALID_HANDLE_VALUE;
    childEnd = INVALID_HANDLE_VALUE;
    IgnoreBrokenPipeSignal();
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return Fail(errno);
    const bool refereeReads = direction == PipeDirection::FROM_CHILD;
    refereeEnd = refereeReads ? fds[0] : fds[1];
    childEnd = refereeReads ? fds[1] : fds[0];
    // Only the referee's end is non-blocking (pipe2's O_NONBLOCK would set
    // both): the child gets an ordinary blocking descriptor.
    fcntl(refereeEnd, F_SETFL, fcntl(refereeEnd, F_GETFL) | O_NONBLOCK);
    // A smaller buffer only means more, shorter reads; the system may refuse.
    fcntl(refereeEnd, F_SETPIPE_SZ, static_cast<int>(PIPE_BUFFER_SIZE));
    return true;
}

}  // namespace Platform

// ---------------------------------------------------------------- processes

namespace {

// What a child that could not start tells the referee through its report pipe.
struct StartReport {
    int32_t step;  // a StartFailure
    int32_t error;
};

[[noreturn]] void ReportStartFailure(int reportFd, Platform::StartFailure step, int error) {
    StartReport report = {static_cast<int32_t>(step), error};
    ssize_t ignored = write(reportFd, &report, sizeof report);
    (void)ignored;
    _exit(127);
}

// A pipe end that sits on descriptor 0, 1 or 2 would be overwritten by the
// other end's dup2; move it out of the way first.
int MoveAboveStandard(int fd) { return fd > 2 ? fd : fcntl(fd, F_DUPFD_CLOEXEC, 3); }

// Everything above the standard descriptors closes at exec, whether or not
// its owner asked for close-on-exec.
void CloseOthersOnExec() {
    if (close_range(3, ~0u, CLOSE_RANGE_CLOEXEC) == 0) return;
    rlimit limit;
    int top = getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < 65536 ? static_cast<int>(limit.rlim_cur) : 65536;
    for (int fd = 3; fd < top; ++fd) fcntl(fd, F_SETFD, FD_CLOEXEC);
}

// The child's side between fork and exec: only async-signal-safe calls.
[[noreturn]] void RunChild(char* const* argv, const char* workDir, int childStdIn, int childStdOut, int reportFd) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);

    int in = MoveAboveStandard(childStdIn);
    int out = MoveAboveStandard(childStdOut);
    if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0)
        ReportStartFailure(reportFd, Platform::StartFailure::PROGRAM, errno);
    fcntl(2, F_SETFD, 0);  // the referee's standard error stays the child's

    if (workDir[0] != '\0' && chdir(workDir) != 0)
        ReportStartFailure(reportFd, Platform::StartFailure::WORK_DIR, errno);
    CloseOthersOnExec();
    execvp(argv[0], argv);
    ReportStartFailure(reportFd, Platform::StartFailure::PROGRAM, errno);
}

// Reads the child's report: true with it filled when the child failed, false
// when the report pipe closed empty because the program began.
bool ReadStartReport(int reportFd, StartReport& report) {
    size_t got = 0;
    char* bytes = reinterpret_cast<char*>(&report);
    while (got < sizeof report) {
        ssize_t n = read(reportFd, bytes + got, sizeof report - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    return got == sizeof report;
}

void WaitForChild(pid_t pid) {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace

namespace Platform {

bool StartProcess(const std::string& cmdLine, const std::string& workDir, PipeHandle childStdIn,
                  PipeHandle childStdOut, ProcessHandle& process, StartFailure& failure) {
    process = INVALID_HANDLE_VALUE;
    failure = StartFailure::PROGRAM;
    if (childStdIn < 0 || childStdOut < 0) return Fail(EBADF);
    std::vector<std::string> args = SplitCommandLine(cmdLine);
    if (args.empty() || args[0].empty()) return Fail(ENOENT);
    // Everything the child needs is built before fork: it may not allocate.
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);

    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return Fail(errno);
    IgnoreBrokenPipeSignal();
    pid_t pid = fork();
    if (pid == 0) RunChild(argv.data(), workDir.c_str(), childStdIn, childStdOut, report[1]);
    int forkError = errno;
    close(report[1]);
    if (pid < 0) {
        close(report[0]);
        return Fail(forkError);
    }
    StartReport result;
    bool failed = ReadStartReport(report[0], result);
    close(report[0]);
    if (failed) {
        WaitForChild(pid);
        failure = static_cast<StartFailure>(result.step);
        return Fail(result.error);
    }
    failure = StartFailure::NONE;
    process = pid;
    return true;
}

bool TerminateProcess(ProcessHandle process) {
    if (kill(process, SIGKILL) != 0) return Fail(errno);
    WaitForChild(process);
    return true;
}

}  // namespace Platform

// ---------------------------------------------------------------- asynchronous pipe I/O

namespace {

// A singly linked queue of records through m_pNext.
struct IoQueue {
    Platform::IoRecord* m_pHead = nullptr;
    Platform::IoRecord* m_pTail = nullptr;
    IoQueue* m_pOuter = nullptr;  // for the queues being run: the one of an enclosing call

    void Push(Platform::IoRecord* record) {
        record->m_pNext = nullptr;
        if (m_pTail) m_pTail->m_pNext = record;
        else m_pHead = record;
        m_pTail = record;
    }
    // Unlinks record, whose predecessor is prev (null for the head).
    void Remove(Platform::IoRecord* prev, Platform::IoRecord* record) {
        if (prev) prev->m_pNext = record->m_pNext;
        else m_pHead = record->m_pNext;
        if (m_pTail == record) m_pTail = prev;
        record->m_pNext = nullptr;
    }
};

// Completions due on this thread, in the order the operations finished.
thread_local IoQueue t_due;
// The completions that RunDueCompletions took for running and has not run
// yet (a chain when a completion polls again), so that a discard finds them.
thread_local IoQueue* t_pRunning = nullptr;

// The most a pipe may owe its reader beyond what the pipe itself holds: a
// player is sent a frame only after answering the last, so one that keeps
// this much unread has stopped reading.
constexpr uint64_t MAX_UNWRITTEN_BYTES = 1 << 20;

// Writes not yet wholly taken by their pipes, in the order they were made;
// touched only by the thread doing pipe I/O (see Platform.h).
IoQueue s_unfinishedWrites;

void Finish(Platform::IoRecord* record, uint32_t error) {
    record->m_uError = error;
    t_due.Push(record);
}

// The bytes of writes into the pipe that it has not taken yet.
uint64_t UnwrittenBytes(Platform::PipeHandle pipe) {
    uint64_t total = 0;
    for (const Platform::IoRecord* r = s_unfinishedWrites.m_pHead; r; r = r->m_pNext) {
        if (r->m_hPipe == pipe) total += r->m_uLen - r->m_uDone;
    }
    return total;
}

bool HasUnfinishedWrite(Platform::PipeHandle pipe, const Platform::IoRecord* before) {
    for (const Platform::IoRecord* r = s_unfinishedWrites.m_pHead; r && r != before; r = r->m_pNext) {
        if (r->m_hPipe == pipe) return true;
    }
    return false;
}

// Writes what the pipe takes of the record's rest.  0 when written or the
// pipe is full for now, else the errno of the failure.
int WriteSome(Platform::IoRecord* record) {
    while (record->m_uDone < record->m_uLen) {
        ssize_t n = write(record->m_hPipe, record->m_pData + record->m_uDone, record->m_uLen - record->m_uDone);
        if (n > 0) {
            record->m_uDone += static_cast<uint32_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            return 0;
        } else {
            return n < 0 ? errno : EIO;
        }
    }
    return 0;
}

// Goes on with every unfinished write whose pipe has no earlier write still
// waiting, and finishes those that are done or failed.
void ContinueWrites() {
    Platform::IoRecord* prev = nullptr;
    Platform::IoRecord* record = s_unfinishedWrites.m_pHead;
    while (record) {
        Platform::IoRecord* next = record->m_pNext;
        if (HasUnfinishedWrite(record->m_hPipe, record)) {
            prev = record;
            record = next;
            continue;
        }
        int error = WriteSome(record);
        if (error != 0 || record->m_uDone == record->m_uLen) {
            s_unfinishedWrites.Remove(prev, record);
            Finish(record, static_cast<uint32_t>(error));
        } else {
            prev = record;
        }
        record = next;
    }
}

// Finishes every unfinished write into the pipe with ECANCELED.
void CancelWrites(Platform::PipeHandle pipe) {
    Platform::IoRecord* prev = nullptr;
    Platform::IoRecord* record = s_unfinishedWrites.m_pHead;
    while (record) {
        Platform::IoRecord* next = record->m_pNext;
        if (record->m_hPipe == pipe) {
            s_unfinishedWrites.Remove(prev, record);
            Finish(record, ECANCELED);
        } else {
            prev = record;
        }
        record = next;
    }
}

void Prepare(Platform::IoRecord* record, Platform::PipeHandle pipe, const char* data, uint32_t len,
             Platform::IoCompletion complete) {
    record->m_pNext = nullptr;
    record->m_pfnComplete = complete;
    record->m_hPipe = pipe;
    record->m_pData = data;
    record->m_uLen = len;
    record->m_uDone = 0;
    record->m_uError = 0;
}

}  // namespace

namespace Platform {

void ClosePipe(PipeHandle pipe) {
    if (pipe < 0) return;
    CancelWrites(pipe);
    close(pipe);
}

ReadStart ReadPipeAsync(PipeHandle pipe, char* buffer, uint32_t size, IoRecord* record, IoCompletion complete) {
    Prepare(record, pipe, buffer, size, complete);
    if (size == 0) {
        Finish(record, 0);
        return ReadStart::QUEUED;
    }
    for (;;) {
        ssize_t n = read(pipe, buffer, size);
        if (n > 0) {
            record->m_uDone = static_cast<uint32_t>(n);
            Finish(record, 0);
            return ReadStart::QUEUED;
        }
        if (n == 0) {
            // End of file: the writer has closed its end, as a broken pipe.
            Fail(EPIPE);
            return ReadStart::FAILED;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN) return ReadStart::EMPTY;
        Fail(errno);
        return ReadStart::FAILED;
    }
}

bool WritePipeAsync(PipeHandle pipe, const char* data, uint32_t len, IoRecord* record, IoCompletion complete) {
    if (pipe < 0) return Fail(EBADF);
    Prepare(record, pipe, data, len, complete);
    if (HasUnfinishedWrite(pipe, nullptr)) {
        // A reader that leaves its pipe full would otherwise make the
        // referee keep every later message: past a bound it is refused.
        if (UnwrittenBytes(pipe) + len > MAX_UNWRITTEN_BYTES) return Fail(ENOBUFS);
        s_unfinishedWrites.Push(record);
        return true;
    }
    int error = WriteSome(record);
    if (error != 0 && record->m_uDone == 0) return Fail(error);
    if (error != 0 || record->m_uDone == len) {
        Finish(record, static_cast<uint32_t>(error));
    } else {
        s_unfinishedWrites.Push(record);
    }
    return true;
}

void WaitForPipes(const PipeHandle* readPipes, int count, int64_t until) {
    if (s_testCounter.load(std::memory_order_relaxed)) return;
    thread_local std::vector<pollfd> t_fds;
    std::vector<pollfd>& fds = t_fds;
    fds.clear();
    for (int i = 0; i < count; ++i) fds.push_back(pollfd{readPipes[i], POLLIN, 0});
    for (const IoRecord* r = s_unfinishedWrites.m_pHead; r; r = r->m_pNext) fds.push_back(pollfd{r->m_hPipe, POLLOUT, 0});
    const int64_t left = std::max<int64_t>(0, until - SystemCounter());
    const timespec timeout = CounterTime(left);
    BlockedTime blocked;
    ppoll(fds.data(), fds.size(), &timeout, nullptr);
}

void RunDueCompletions() {
    ContinueWrites();
    // Completions queued by these completions wait for the next call, so that
    // one call always ends.
    IoQueue running = t_due;
    t_due = IoQueue();
    running.m_pOuter = t_pRunning;
    t_pRunning = &running;
    while (IoRecord* record = running.m_pHead) {
        running.Remove(nullptr, record);
        record->m_pfnComplete(record->m_uError, record->m_uDone, record);
    }
    t_pRunning = running.m_pOuter;
}

void DiscardDueCompletions(const void* tag, void (*discard)(IoRecord*)) {
    for (IoQueue* queue = &t_due; queue; queue = queue == &t_due ? t_pRunning : queue->m_pOuter) {
        IoRecord* prev = nullptr;
        IoRecord* record = queue->m_pHead;
        while (record) {
            IoRecord* next = record->m_pNext;
            if (record->m_pTag == tag) {
                queue->Remove(prev, record);
                discard(record);
            } else {
                prev = record;
            }
            record = next;
        }
    }
}

}  // namespace Platform

#include "Platform.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <linux/futex.h>
#include <linux/sched.h>
#include <linux/sched/types.h>
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
#include <cstring>

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
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

int64_t ThreadRunDelayNs() {
    // The thread's own scheduler statistics: time on a processor, time
    // waiting for one, time slices.  Kept open: it is read again and again.
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

void LoadGauge::Measure() {
    const int64_t now = NowNs();
    const int64_t window = m_bMeasured ? WINDOW_NS : FIRST_WINDOW_NS;
    if (m_windowStartNs >= 0 && now - m_windowStartNs < window) return;
    const int64_t delay = ThreadRunDelayNs();
    if (delay < 0) {
        m_bSpare = true;
        return;
    }
    if (m_windowStartNs >= 0) {
        const bool quiet = (delay - m_windowStartDelayNs) * 100 <= BUSY_PERCENT * (now - m_windowStartNs);
        m_iQuietWindows = quiet ? m_iQuietWindows + 1 : 0;
        m_bSpare = m_iQuietWindows >= QUIET_WINDOWS;
        m_bMeasured = true;
    }
    m_windowStartNs = now;
    m_windowStartDelayNs = delay;
}

LoadGauge& ProcessLoad() {
    static LoadGauge s_gauge;
    return s_gauge;
}

namespace {

// A spin that grows from nothing reaches a few microseconds within a few
// short waits.
constexpr int64_t SPIN_GROWTH_NS = 1000;

// Short enough that a thread asking for it gets a processor within a
// fraction of a millisecond of its wake-up on a busy machine.
constexpr uint64_t SHORT_TIME_SLICE_NS = 300000;

}  // namespace

SpinPolicy::SpinPolicy(int64_t longestSpinUs) : m_longestNs(longestSpinUs * 1000), m_allowedNs(m_longestNs) {}

void SpinPolicy::Learn() { Learn(NowNs()); }

void SpinPolicy::Learn(int64_t readyNs) {
    const int64_t waited = readyNs - m_waitStartNs;
    if (waited <= m_longestNs && !m_bLostProcessor) {
        m_allowedNs = std::min(m_longestNs, m_allowedNs * 2 + SPIN_GROWTH_NS);
    } else {
        m_allowedNs /= 2;
    }
}

void SpinPolicy::Pause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

void WaitWhileEqual(const std::atomic<uint32_t>& word, uint32_t value) {
    static_assert(sizeof word == sizeof(uint32_t), "a futex is a plain 32-bit word");
    syscall(SYS_futex, &word, FUTEX_WAIT_PRIVATE, value, nullptr, nullptr, 0);
}

void WakeAll(const std::atomic<uint32_t>& word) {
    syscall(SYS_futex, &word, FUTEX_WAKE_PRIVATE, INT32_MAX, nullptr, nullptr, 0);
}

bool Doorbell::Ring() {
    m_uRings.fetch_add(1);
    if (m_uSleepers.load() == 0) return false;
    WakeAll(m_uRings);
    return true;
}

void SetTimeSlices(TimeSlices slices) {
    sched_attr attr;
    memset(&attr, 0, sizeof attr);
    attr.size = sizeof attr;
    attr.sched_policy = SCHED_NORMAL;
    // 0 asks for the system's own slice.
    attr.sched_runtime = slices == TimeSlices::SHORT ? SHORT_TIME_SLICE_NS : 0;
    syscall(SYS_sched_setattr, 0, &attr, 0);
}

// ---------------------------------------------------------------- files

bool MakeDirectory(const char* path) { return mkdir(path, 0777) == 0; }

}  // namespace Platform

void QuitProcess(int code) { _exit(code); }

// ---------------------------------------------------------------- errors

namespace {

thread_local uint32_t t_lastError = 0;

// Records errno as the last error; returns false for the caller's convenience.
bool Fail(int code) {
    t_lastError = static_cast<uint32_t>(code);
    return false;
}

}  // namespace

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

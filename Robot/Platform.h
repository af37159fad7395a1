// The seam to the operating system.
//
// Everything the referee needs of the system (the clock, waiting and waking
// threads, ending the process, making a directory, child processes and
// their pipes) is reached through this module and nothing else names a
// system call.  Tests replace the clock through SetCounterForTest.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace Platform {

// A monotonic high-resolution counter and its ticks per second (the
// frequency never changes during a run).
int64_t PerformanceCounter();
int64_t PerformanceFrequency();

// Replaces the counter (ticks of PerformanceFrequency) for a test; null
// restores the system's clock.
void SetCounterForTest(int64_t (*counter)());

// Creates one directory; false when it could not be made (it may exist).
bool MakeDirectory(const char* path);

// ---------------------------------------------------------------- waiting

// The monotonic clock in nanoseconds, for measuring short waits.
int64_t NowNs();

// The time the calling thread has spent ready to run but waiting for a
// processor, in nanoseconds since it began; -1 when the system does not tell.
int64_t ThreadRunDelayNs();

// Whether the machine has processors to spare: the part of the last
// stretch of time in which the measuring thread was ready to run but had to
// wait for a processor.  One thread measures; any thread may ask.
class LoadGauge {
public:
    // Called often by the measuring thread: takes a reading when a stretch
    // is over.  The first stretch is short, so that a match soon knows.
    void Measure();
    // False while that part was more than a small one, and until a first
    // stretch has been measured; true when the system does not tell.
    bool HasProcessorsToSpare() const { return m_bSpare.load(std::memory_order_relaxed); }

private:
    static constexpr int64_t FIRST_WINDOW_NS = 5000000;
    static constexpr int64_t WINDOW_NS = 50000000;
    static constexpr int64_t BUSY_PERCENT = 10;
    // Quiet stretches in a row before there are processors to spare: the
    // spins and wake-ups that follow a quiet stretch make the next one busy
    // on a machine that is not quiet.
    static constexpr int QUIET_WINDOWS = 2;

    int64_t m_windowStartNs = -1;
    int64_t m_windowStartDelayNs = 0;
    int m_iQuietWindows = 0;
    bool m_bMeasured = false;
    std::atomic<bool> m_bSpare{false};
};

// The gauge of the whole process, which the spins consult; the game thread
// measures.
LoadGauge& ProcessLoad();

// How the scheduler slices the calling thread's time.  Short slices get the
// thread a processor soon after it wakes up, even on a busy machine; its
// share of the processors stays the same.  Threads it starts inherit them.
// A system that does not know the request leaves the thread as it is.
enum class TimeSlices { DEFAULT, SHORT };
void SetTimeSlices(TimeSlices slices);

// Sleeps until PerformanceCounter reaches the value.  A test counter moves
// only when it is read, so with one the call returns at once.
void SleepUntil(int64_t counter);

// How long one place that waits for another thread spins before it blocks.
// Blocking is dear: on some machines a wake-up costs the waker tens of
// microseconds.  Spinning is dear too on a machine busy with other work
// (other matches, the players), where it takes a processor from them: so
// there is no spin while the process's gauge finds no processor to spare.
// Otherwise the spin follows the place's recent waits: after a wait that the
// longest spin would have covered, the next spin may be twice as long (up to
// the longest); after a longer one it is halved.  And a spin that finds it
// lost its processor for a while stops at once and halves the next one.
// Belongs to the one thread that waits there.
class SpinPolicy {
public:
    explicit SpinPolicy(int64_t longestSpinUs);
    // Spins until ready() or the spin allowed now is over; ready()'s result.
    template <class Ready>
    bool Spin(Ready ready);
    // Ends the wait that the last Spin began (whether it blocked or not);
    // with the time (NowNs) at which the wait could have ended, when that was
    // before the waiter saw it.
    void Learn();
    void Learn(int64_t readyNs);
    // Allows the longest spin again, for a waiter that has learnt by other
    // means that spinning pays.
    void Reset() { m_allowedNs = m_longestNs; }

private:
    // A gap this long between two looks at the clock means that the
    // processor went to another thread.
    static constexpr int64_t LOST_PROCESSOR_NS = 50000;

    static void Pause();

    int64_t m_longestNs;
    int64_t m_allowedNs;
    int64_t m_waitStartNs = 0;
    bool m_bLostProcessor = false;
};

// Blocks the calling thread while word holds value: returns once woken by
// WakeAll, at once when the word holds another value, or now and then for
// no reason, so callers test their condition again.
void WaitWhileEqual(const std::atomic<uint32_t>& word, uint32_t value);
// Wakes every thread blocked in WaitWhileEqual on word.
void WakeAll(const std::atomic<uint32_t>& word);

// Where threads wait for a condition that other threads make true.  A
// waiter spins as its SpinPolicy allows, then blocks until the condition
// holds; whoever may have made it true rings.  A ring costs a system call
// only while a waiter is blocked.  The condition's data must be atomics with
// sequentially consistent stores and loads (the default).  Any thread may
// wait or ring.
class Doorbell {
public:
    // Spins as the policy allows, then blocks, until ready().
    template <class Ready>
    void Wait(SpinPolicy& spin, Ready ready);
    // Blocks at once until ready().
    template <class Ready>
    void Block(Ready ready);
    // True when it woke a blocked waiter.
    bool Ring();

private:
    std::atomic<uint32_t> m_uRings{0};
    std::atomic<uint32_t> m_uSleepers{0};
};

// ---------------------------------------------------------------- errors

// The calling thread's last error of this layer (an errno value): set by
// every function below that reports a failure, kept until the next failure.
uint32_t LastError();

// The system's text for an error code ("Unknown error N" when it has none).
std::string ErrorText(uint32_t code);

// ---------------------------------------------------------------- child processes and pipes
//
// Threads: the pipe operations, the list of unfinished writes and
// RunDueCompletions belong to the one thread that does pipe I/O at a time
// (the main thread during start-up, then the game thread; the hand-over is
// ordered by the start of the game thread).  Completions are queued per
// thread: a completion runs in RunDueCompletions of the thread whose call
// finished the operation.

// A child process (its process id) and a pipe end (a file descriptor).
using ProcessHandle = int;
using PipeHandle = int;
constexpr int INVALID_HANDLE_VALUE = -1;

// The pipe buffer the layer asks for, and the most one read delivers.
constexpr uint32_t PIPE_BUFFER_SIZE = 0x20000;

// Splits a command line into the program and its arguments as a command line
// is split on the referee's other platform (see the rules at the definition).
std::vector<std::string> SplitCommandLine(const std::string& cmdLine);

enum class PipeDirection {
    FROM_CHILD,  // the referee reads: the child's standard output
    TO_CHILD,    // the referee writes: the child's standard input
};

// Creates one pipe.  The referee's end is non-blocking; both ends are
// close-on-exec (StartProcess gives the child its end as a standard one); a
// buffer of PIPE_BUFFER_SIZE bytes is asked for where the system allows it.
// Also makes a write into a closed pipe an error instead of a fatal signal.
// False with both ends INVALID_HANDLE_VALUE when the system has no pipe.
bool CreatePipe(PipeDirection direction, PipeHandle& refereeEnd, PipeHandle& childEnd);

// Closes a pipe end.  Unfinished writes into it complete with ECANCELED.
void ClosePipe(PipeHandle pipe);

// Which step of StartProcess failed.
enum class StartFailure { NONE, WORK_DIR, PROGRAM };

// Starts the program of the command line (split by SplitCommandLine, found as
// execvp finds it) with the two pipe ends as its standard input and output,
// the referee's standard error as its own, and no other descriptor of the
// referee.  A non-empty workDir is entered by the child before the program
// is looked up, so a relative program path names a program in it; the
// referee's own directory never changes.  False, with the failed step and
// LastError, when the directory or the program could not be entered or run;
// it returns only once the child has either begun the program or failed.
bool StartProcess(const std::string& cmdLine, const std::string& workDir, PipeHandle childStdIn,
                  PipeHandle childStdOut, ProcessHandle& process, StartFailure& failure);

// Kills the child (SIGKILL) and collects its exit; false when it cannot.
bool TerminateProcess(ProcessHandle process);

// ---------------------------------------------------------------- asynchronous pipe I/O

struct IoRecord;

// Called with the error code (0, or an errno value), the bytes moved and the
// record of the operation.
using IoCompletion = void (*)(uint32_t error, uint32_t bytes, IoRecord* record);

// The bookkeeping of one asynchronous operation, the first member of the
// caller's request so that the completion reaches the whole request from it.
// Zero-filled (IoRecord()) before use; the caller owns the memory and must
// keep it until the completion has run.  m_pTag is the caller's own (see
// DiscardDueCompletions); the other fields belong to this layer.
struct IoRecord {
    const void* m_pTag = nullptr;
    IoRecord* m_pNext = nullptr;
    IoCompletion m_pfnComplete = nullptr;
    PipeHandle m_hPipe = INVALID_HANDLE_VALUE;
    const char* m_pData = nullptr;
    uint32_t m_uLen = 0;
    uint32_t m_uDone = 0;
    uint32_t m_uError = 0;
};

enum class ReadStart {
    QUEUED,  // data was read at once; the completion waits in this thread's queue
    EMPTY,   // nothing to read yet; no completion follows
    FAILED,  // end of file (LastError EPIPE) or another error; no completion follows
};

// Reads what the pipe holds, up to size bytes, without waiting.
ReadStart ReadPipeAsync(PipeHandle pipe, char* buffer, uint32_t size, IoRecord* record, IoCompletion complete);

// Accepts the whole of len bytes for the pipe without waiting: what the pipe
// takes now is written now, the rest in later RunDueCompletions calls, in the
// order of the writes; the completion runs once all is written or the pipe
// has failed.  data must stay valid until then.  False (LastError set, no
// completion) when the pipe refuses at once, e.g. EPIPE when the reader has
// closed it, or ENOBUFS when more than 1 MiB already waits unread for it.
bool WritePipeAsync(PipeHandle pipe, const char* data, uint32_t len, IoRecord* record, IoCompletion complete);

// Blocks until one of the read pipes has something to read or has lost its
// writer, a pipe with an unfinished write can take more, or PerformanceCounter
// reaches until.  A signal may end it early.  Returns at once with a test
// counter (see SleepUntil).
void WaitForPipes(const PipeHandle* readPipes, int count, int64_t until);

// The alertable 0 ms wait: goes on with the unfinished writes, then runs every
// completion that was due on this thread when it was called, and returns.
void RunDueCompletions();

// Takes every due completion of this thread whose record carries the tag out
// of the queue without running it and hands its record to discard.
void DiscardDueCompletions(const void* tag, void (*discard)(IoRecord*));

template <class Ready>
bool SpinPolicy::Spin(Ready ready) {
    int64_t now = NowNs();
    m_waitStartNs = now;
    m_bLostProcessor = false;
    if (!ProcessLoad().HasProcessorsToSpare()) return ready();
    const int64_t until = now + m_allowedNs;
    for (unsigned i = 1;; ++i) {
        if (ready()) return true;
        // The clock is read now and then only: it costs more than a pause.
        if (i % 8 == 0) {
            const int64_t last = now;
            now = NowNs();
            m_bLostProcessor = now - last > LOST_PROCESSOR_NS;
            if (m_bLostProcessor || now >= until) return false;
        }
        Pause();
    }
}

template <class Ready>
void Doorbell::Wait(SpinPolicy& spin, Ready ready) {
    if (!spin.Spin(ready)) Block(ready);
    spin.Learn();
}

template <class Ready>
void Doorbell::Block(Ready ready) {
    for (;;) {
        const uint32_t rings = m_uRings.load();
        // Counted before the condition is tested again, so that a ring after
        // the test sees the sleeper, and one before it changed what the test
        // reads.
        m_uSleepers.fetch_add(1);
        const bool done = ready();
        if (!done) WaitWhileEqual(m_uRings, rings);
        m_uSleepers.fetch_sub(1);
        if (done) return;
    }
}

}  // namespace Platform

// Ends the process at once with the code: no static destructors, no exit
// handlers, every thread ends with it; child processes are left running.
[[noreturn]] void QuitProcess(int code);

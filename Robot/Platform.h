// The seam to the operating system.
//
// Everything the referee needs of the system (the clock, waiting and waking
// threads, starting them, the processors it may use and how busy they are,
// ending the process, making a directory, child processes and their pipes)
// is reached through this module and nothing else names a system call.
// Tests replace the clock through SetCounterForTest, and the processors and
// their load through SetProcessorsAllowedForTest and SetRunDelayForTest.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
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

}  // namespace Platform

// Ends the process at once with the code: no static destructors, no exit
// handlers, every thread ends with it; child processes are left running.
[[noreturn]] void QuitProcess(int code);

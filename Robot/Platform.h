// The seam to the operating system.
//
// Everything the referee needs of the system (the clock, yielding, ending
// the process, making a directory, child processes and their pipes) is
// reached through this module and nothing else names a system call.  Tests
// replace the clock through SetCounterForTest.
#pragma once

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

// Gives up the rest of the time slice; not an alertable wait.
void YieldThread();

// Creates one directory; false when it could not be made (it may exist).
bool MakeDirectory(const char* path);

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

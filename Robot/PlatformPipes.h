// The seam to the operating system (see Platform.h): the pipes between the
// referee and its child processes, and reads and writes on them that never
// wait, completed through queues the way asynchronous I/O completes.
//
// Threads: the pipe operations, the list of unfinished writes and
// RunDueCompletions belong to the one thread that does pipe I/O at a time
// (the main thread during start-up, then the game thread; the hand-over is
// ordered by the start of the game thread).  Completions are queued per
// thread: a completion runs in RunDueCompletions of the thread whose call
// finished the operation.
#pragma once

#include <cstdint>

namespace Platform {

// A pipe end (a file descriptor); INVALID_HANDLE_VALUE also stands for no
// child process (PlatformProcesses.h).
using PipeHandle = int;
constexpr int INVALID_HANDLE_VALUE = -1;

// The pipe buffer the layer asks for, and the most one read delivers.
constexpr uint32_t PIPE_BUFFER_SIZE = 0x20000;

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

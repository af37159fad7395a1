// A child program whose standard input and output are pipes of the referee,
// moved without ever blocking the caller: writes are accepted whole at once,
// reads are posted by one static poll for every registered object, and the
// completions run inside that poll, on the polling thread.  What the bytes
// mean is the derived class's business (HandleStart, HandleRead,
// HandleIOError).
//
// Threads: the object table, every ProcessIO and its requests belong to the
// one thread that does pipe I/O at a time: the main thread during start-up
// (Start, the handshake write, the start-up polls), then the game thread
// (frame writes and polls).  Nothing is locked; the hand-over is ordered by
// the start of the game thread.  HandleRead and HandleIOError run on the
// polling thread inside PostAsyncReadReq, never concurrently.
#pragma once

#include <cstdint>
#include <string>

#include "PlatformProcesses.h"

class ProcessIO;

// One posted read: its record, its owner, the owner's m_uSeq when it was
// posted, and room for the most one read delivers.  A heap block freed once
// the read is over.
struct ReadRequest {
    Platform::IoRecord overlapped;  // first: the completion reaches the request from it
    ProcessIO* owner;
    uint32_t seq;
    char data[Platform::PIPE_BUFFER_SIZE];
};

// One accepted write: its record and len bytes, a copy of the caller's data,
// right behind the header in the same heap block (Create, Destroy).
struct WriteRequest {
    Platform::IoRecord overlapped;  // first: the completion reaches the request from it
    uint32_t len;

    static WriteRequest* Create(uint32_t len);  // null when out of memory
    static void Destroy(WriteRequest* request);
    char* Data() { return reinterpret_cast<char*>(this + 1); }
};

class ProcessIO {
public:
    static constexpr int MAX_OBJ = 1024;  // capacity of the object table
    static constexpr uint32_t READ_BUFFER_SIZE = Platform::PIPE_BUFFER_SIZE;

    // registerObj enters the object in the table served by PostAsyncReadReq
    // (a full table logs an ASSERT line and leaves it out).  hideWindow is
    // kept for the child's start; children here have no window to hide.
    ProcessIO(bool registerObj, bool hideWindow);
    // Stops the child and leaves the table.
    virtual ~ProcessIO();

    // Starts the command line (null keeps the last one) in m_strWorkDir, with
    // fresh pipes, and calls HandleStart.  False, after a "CreateProcess err:"
    // or "SetCurrentDirectory err:" line, when the program or the directory
    // cannot be entered or run; the object then holds no pipe.  An earlier
    // child of the object is stopped first.
    bool Start(const char* cmdLine);
    // Kills the child (SIGKILL) and closes the referee's pipe ends; read
    // completions still due for the object are dropped ("Check seq err.").
    void Stop();
    // Accepts the bytes for the child's standard input; the caller's buffer is
    // free at once.  False, after a "WriteFile err." line, when the pipe
    // refuses them (e.g. the child has closed its input).
    bool WriteToProcess(const char* data, uint32_t len);

    // Empty means the referee's own directory.  Set before Start.
    void SetWorkDir(const std::string& dir) { m_strWorkDir = dir; }

    // The poll: posts a read for every registered object with a pipe and
    // fewer than two reads outstanding, then runs every completion due on
    // this thread (reads and writes) and returns.  Never waits.
    static void PostAsyncReadReq();
    // Blocks until a poll would find something to do for a registered
    // object (output to read, its end of file, room for an unfinished
    // write) or PerformanceCounter reaches until; see Platform::WaitForPipes.
    static void WaitForIO(int64_t until);

protected:
    // Right after the child has been started; empty here.
    virtual void HandleStart() {}
    // Once for every completed read, with up to READ_BUFFER_SIZE bytes (the
    // count may be 0).
    virtual void HandleRead(const char* data, uint32_t len) = 0;
    // When a read fails, including end of file on the child's output (then
    // again on every poll while the object stays registered and the pipe open).
    virtual void HandleIOError() = 0;

    // Creates both pipes, sets m_hChildStdOut and m_hChildStdIn, and returns
    // the child's ends; failures are ASSERT lines (the start then fails).
    bool CreatePipe(Platform::PipeHandle& hChildStdIn, Platform::PipeHandle& hChildStdOut);

    // The completion of a posted read.
    static void s_ReadCompleteFunc(uint32_t error, uint32_t bytes, Platform::IoRecord* overlapped);

    int32_t m_iPendingReads = 0;  // posted and not completed; reads are posted below 2
    bool m_bRegistered = false;   // entered in s_pObjList
    bool m_bHideWindow = false;
    // A read that found the pipe empty, kept for the next poll: the request
    // holds a whole pipe buffer, and allocating and freeing it in every poll
    // costs more than the poll itself.
    ReadRequest* m_pSpareRead = nullptr;
    uint32_t m_uSeq = 0;  // generation: raised by Start and Stop, carried by each read
    std::string m_strCmdLine;
    std::string m_strWorkDir;
    Platform::ProcessHandle m_hProcess = Platform::INVALID_HANDLE_VALUE;
    Platform::PipeHandle m_hChildStdOut = Platform::INVALID_HANDLE_VALUE;  // the referee reads
    Platform::PipeHandle m_hChildStdIn = Platform::INVALID_HANDLE_VALUE;   // the referee writes

    static ProcessIO* s_pObjList[MAX_OBJ];
    static int32_t s_iObjTot;

private:
    void PostRead();
    void ClosePipes();
};

// Writes "<label> <the system's text for this thread's last error>\n" to
// standard error, without a log prefix, at every log level.
void PrintSysError(const char* label);

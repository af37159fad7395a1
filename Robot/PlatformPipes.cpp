#include "PlatformPipes.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "PlatformInternal.h"

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
// touched only by the thread doing pipe I/O (see PlatformPipes.h).
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

// ---------------------------------------------------------------- shared within the seam

void IgnoreBrokenPipeSignal() {
    static const bool s_done = [] {
        struct sigaction old;
        if (sigaction(SIGPIPE, nullptr, &old) == 0 && old.sa_handler == SIG_DFL) signal(SIGPIPE, SIG_IGN);
        return true;
    }();
    (void)s_done;
}

// ---------------------------------------------------------------- pipes

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

void ClosePipe(PipeHandle pipe) {
    if (pipe < 0) return;
    CancelWrites(pipe);
    close(pipe);
}

// ---------------------------------------------------------------- asynchronous pipe I/O

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
    if (HasTestCounter()) return;
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

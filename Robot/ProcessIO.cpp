#include "ProcessIO.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "Log.h"
#include "Platform.h"

using Platform::INVALID_HANDLE_VALUE;

ProcessIO* ProcessIO::s_pObjList[ProcessIO::MAX_OBJ];
int32_t ProcessIO::s_iObjTot = 0;

namespace {

void DiscardReadRequest(Platform::IoRecord* overlapped) { delete reinterpret_cast<ReadRequest*>(overlapped); }

}  // namespace

void PrintSysError(const char* label) {
    // One write, so that the line does not interleave with other output.
    std::string line = std::string(label) + " " + Platform::ErrorText(Platform::LastError()) + "\n";
    fwrite(line.data(), 1, line.size(), stderr);
    fflush(stderr);
}

// ---------------------------------------------------------------- requests

WriteRequest* WriteRequest::Create(uint32_t len) {
    void* block = malloc(sizeof(WriteRequest) + len);
    if (!block) return nullptr;
    WriteRequest* request = new (block) WriteRequest;
    request->overlapped = Platform::IoRecord();
    request->len = len;
    return request;
}

void WriteRequest::Destroy(WriteRequest* request) {
    request->~WriteRequest();
    free(request);
}

// A write that ends short or failed changes nothing but this line.
static void s_WriteCompleteFunc(uint32_t error, uint32_t bytes, Platform::IoRecord* overlapped) {
    WriteRequest* pstInfo = reinterpret_cast<WriteRequest*>(overlapped);
    if (error != 0 || bytes != pstInfo->len) LOG_ERR("Write err:%u, len %u: need %u\n", error, bytes, pstInfo->len);
    WriteRequest::Destroy(pstInfo);
}

void ProcessIO::s_ReadCompleteFunc(uint32_t error, uint32_t bytes, Platform::IoRecord* overlapped) {
    ReadRequest* pstInfo = reinterpret_cast<ReadRequest*>(overlapped);
    ProcessIO* owner = pstInfo->owner;
    if (pstInfo->seq != owner->m_uSeq) {
        LOG_ERR("Check seq err.\n");
        delete pstInfo;
        return;
    }
    --owner->m_iPendingReads;
    if (error != 0) {
        owner->HandleIOError();
    } else {
        owner->HandleRead(pstInfo->data, bytes);
    }
    delete pstInfo;
}

// ---------------------------------------------------------------- lifetime

ProcessIO::ProcessIO(bool registerObj, bool hideWindow) : m_bHideWindow(hideWindow) {
    if (!registerObj) return;
    if (s_iObjTot >= MAX_OBJ) {
        // Left out of the table: the poll does not serve it.
        LOG_ASSERT_FAILED("s_iObjTot < MAX_OBJ");
        return;
    }
    s_pObjList[s_iObjTot++] = this;
    m_bRegistered = true;
}

ProcessIO::~ProcessIO() {
    Stop();
    delete m_pSpareRead;
    // A read of this object may still wait in the poll that destroys it.
    Platform::DiscardDueCompletions(this, DiscardReadRequest);
    if (!m_bRegistered) return;
    for (int i = 0; i < s_iObjTot; ++i) {
        if (s_pObjList[i] == this) {
            s_pObjList[i] = s_pObjList[--s_iObjTot];
            break;
        }
    }
}

// ---------------------------------------------------------------- start and stop

bool ProcessIO::CreatePipe(Platform::PipeHandle& hChildStdIn, Platform::PipeHandle& hChildStdOut) {
    Platform::CreatePipe(Platform::PipeDirection::FROM_CHILD, m_hChildStdOut, hChildStdOut);
    SOFT_ASSERT(m_hChildStdOut != INVALID_HANDLE_VALUE);
    SOFT_ASSERT(hChildStdOut != INVALID_HANDLE_VALUE);
    Platform::CreatePipe(Platform::PipeDirection::TO_CHILD, m_hChildStdIn, hChildStdIn);
    SOFT_ASSERT(m_hChildStdIn != INVALID_HANDLE_VALUE);
    SOFT_ASSERT(hChildStdIn != INVALID_HANDLE_VALUE);
    return true;
}

bool ProcessIO::Start(const char* cmdLine) {
    if (cmdLine) m_strCmdLine = cmdLine;
    if (m_hProcess != INVALID_HANDLE_VALUE || m_hChildStdOut != INVALID_HANDLE_VALUE ||
        m_hChildStdIn != INVALID_HANDLE_VALUE)
        Stop();
    ++m_uSeq;

    Platform::PipeHandle hChildStdIn = INVALID_HANDLE_VALUE;
    Platform::PipeHandle hChildStdOut = INVALID_HANDLE_VALUE;
    if (!CreatePipe(hChildStdIn, hChildStdOut)) LOG_ASSERT_FAILED("CreatePipe(hChildStdIn, hChildStdOut)");

    // The whole command line is passed: nothing is cut.
    Platform::ProcessHandle hProcess = INVALID_HANDLE_VALUE;
    Platform::StartFailure failure = Platform::StartFailure::NONE;
    bool started = Platform::StartProcess(m_strCmdLine, m_strWorkDir, hChildStdIn, hChildStdOut, hProcess, failure);
    if (!started)
        PrintSysError(failure == Platform::StartFailure::WORK_DIR ? "SetCurrentDirectory err:" : "CreateProcess err:");
    // The child holds its own copies of its ends.
    Platform::ClosePipe(hChildStdIn);
    Platform::ClosePipe(hChildStdOut);
    if (!started) {
        ClosePipes();
        return false;
    }
    m_hProcess = hProcess;
    m_iPendingReads = 0;
    HandleStart();
    return true;
}

void ProcessIO::Stop() {
    ++m_uSeq;
    if (m_hProcess != INVALID_HANDLE_VALUE) {
        if (!Platform::TerminateProcess(m_hProcess)) {
            PrintSysError("TerminateProcess Err:");
            return;
        }
        // Its id may now be given to another process.
        m_hProcess = INVALID_HANDLE_VALUE;
    }
    ClosePipes();
}

void ProcessIO::ClosePipes() {
    Platform::ClosePipe(m_hChildStdIn);
    Platform::ClosePipe(m_hChildStdOut);
    m_hChildStdIn = INVALID_HANDLE_VALUE;
    m_hChildStdOut = INVALID_HANDLE_VALUE;
}

// ---------------------------------------------------------------- I/O

bool ProcessIO::WriteToProcess(const char* data, uint32_t len) {
    WriteRequest* pstInfo = WriteRequest::Create(len);
    if (!pstInfo) {
        LOG_ASSERT_FAILED("pstInfo");
        return false;
    }
    if (len > 0) memcpy(pstInfo->Data(), data, len);
    if (Platform::WritePipeAsync(m_hChildStdIn, pstInfo->Data(), len, &pstInfo->overlapped, s_WriteCompleteFunc))
        return true;
    PrintSysError("WriteFile err.");
    WriteRequest::Destroy(pstInfo);
    return false;
}

void ProcessIO::PostAsyncReadReq() {
    // A handler may add or remove objects: the count is read again each time.
    for (int i = 0; i < s_iObjTot; ++i) s_pObjList[i]->PostRead();
    Platform::RunDueCompletions();
}

void ProcessIO::WaitForIO(int64_t until) {
    Platform::PipeHandle pipes[MAX_OBJ];
    int count = 0;
    for (int i = 0; i < s_iObjTot; ++i) {
        const ProcessIO* object = s_pObjList[i];
        if (object->m_iPendingReads < 2 && object->m_hChildStdOut != INVALID_HANDLE_VALUE)
            pipes[count++] = object->m_hChildStdOut;
    }
    Platform::WaitForPipes(pipes, count, until);
}

void ProcessIO::PostRead() {
    if (m_iPendingReads >= 2 || m_hChildStdOut == INVALID_HANDLE_VALUE) return;
    ReadRequest* pstInfo = m_pSpareRead ? m_pSpareRead : new (std::nothrow) ReadRequest;
    m_pSpareRead = nullptr;
    if (!pstInfo) {
        // Out of memory for now: this object is tried again in the next poll.
        LOG_ASSERT_FAILED("pstInfo");
        return;
    }
    pstInfo->overlapped = Platform::IoRecord();
    pstInfo->overlapped.m_pTag = this;
    pstInfo->owner = this;
    pstInfo->seq = m_uSeq;
    switch (Platform::ReadPipeAsync(m_hChildStdOut, pstInfo->data, READ_BUFFER_SIZE, &pstInfo->overlapped,
                                    s_ReadCompleteFunc)) {
        case Platform::ReadStart::QUEUED:
            ++m_iPendingReads;
            return;
        case Platform::ReadStart::EMPTY:
            m_pSpareRead = pstInfo;
            return;
        case Platform::ReadStart::FAILED:
            PrintSysError("ReadFileEx err.");
            delete pstInfo;
            HandleIOError();  // last: the handler may destroy this object
            return;
    }
}

// A child program whose standard input and output are pipes of the referee.
//
// Threads: one thread polls at a time (the main thread during start-up, then
// the game thread); completions run inside that thread's poll.
#pragma once

#include <cstdint>
#include <string>

class ProcessIO {
public:
    ProcessIO(bool registerObj, bool hideWindow);
    virtual ~ProcessIO();

    bool Start(const char* cmdLine);
    void SetWorkDir(const std::string& dir) { m_strWorkDir = dir; }

    // One non-blocking poll of every registered object's pipes.
    static void PostAsyncReadReq();

protected:
    virtual void HandleStart() {}
    virtual void HandleRead(const char* data, uint32_t len) = 0;
    virtual void HandleIOError() = 0;

    std::string m_strCmdLine;
    std::string m_strWorkDir;
};

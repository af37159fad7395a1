#include "ProcessIO.h"

ProcessIO::ProcessIO(bool, bool) {}

ProcessIO::~ProcessIO() = default;

bool ProcessIO::Start(const char* cmdLine) {
    if (cmdLine) m_strCmdLine = cmdLine;
    return false;
}

void ProcessIO::PostAsyncReadReq() {}

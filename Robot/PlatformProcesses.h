// The seam to the operating system (see Platform.h): child processes, from
// the split of their command line to their start with two pipe ends
// (PlatformPipes.h) as their standard input and output, and their end.
//
// Threads: the thread that does pipe I/O (see PlatformPipes.h) starts and
// ends the children; SplitCommandLine may be called anywhere.
#pragma once

#include <string>
#include <vector>

#include "PlatformPipes.h"

namespace Platform {

// A child process (its process id), INVALID_HANDLE_VALUE for none.
using ProcessHandle = int;

// Splits a command line into the program and its arguments as a command line
// is split on the referee's other platform (see the rules at the definition).
std::vector<std::string> SplitCommandLine(const std::string& cmdLine);

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

}  // namespace Platform

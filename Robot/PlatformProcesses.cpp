#include "PlatformProcesses.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "PlatformInternal.h"

namespace {

// ---------------------------------------------------------------- command lines

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The program name: double quotes group and are dropped, a backslash is an
// ordinary character, a blank or tab outside quotes ends it.
std::string TakeProgramName(const std::string& line, size_t& pos) {
    std::string name;
    bool quoted = false;
    for (; pos < line.size(); ++pos) {
        char c = line[pos];
        if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && IsBlank(c)) {
            break;
        } else {
            name += c;
        }
    }
    return name;
}

// One argument after the program name:
// - blanks and tabs outside double quotes end it; a double quote opens or
//   closes a quoted run and is dropped;
// - inside a quoted run two double quotes in a row give one literal quote and
//   the run goes on;
// - 2n backslashes before a double quote give n backslashes and the quote
//   then opens or closes a run; 2n+1 backslashes before a double quote give n
//   backslashes and a literal quote;
// - backslashes not followed by a double quote are literal.
std::string TakeArgument(const std::string& line, size_t& pos) {
    std::string arg;
    bool quoted = false;
    while (pos < line.size()) {
        char c = line[pos];
        if (c == '\\') {
            size_t count = 0;
            while (pos < line.size() && line[pos] == '\\') {
                ++count;
                ++pos;
            }
            if (pos < line.size() && line[pos] == '"') {
                arg.append(count / 2, '\\');
                if (count % 2 == 1) {
                    arg += '"';
                    ++pos;
                }
            } else {
                arg.append(count, '\\');
            }
        } else if (c == '"') {
            if (quoted && pos + 1 < line.size() && line[pos + 1] == '"') {
                arg += '"';
                pos += 2;
            } else {
                quoted = !quoted;
                ++pos;
            }
        } else if (!quoted && IsBlank(c)) {
            break;
        } else {
            arg += c;
            ++pos;
        }
    }
    return arg;
}

void SkipBlanks(const std::string& line, size_t& pos) {
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
}

// ---------------------------------------------------------------- processes

// What a child that could not start tells the referee through its report pipe.
struct StartReport {
    int32_t step;  // a StartFailure
    int32_t error;
};

[[noreturn]] void ReportStartFailure(int reportFd, Platform::StartFailure step, int error) {
    StartReport report = {static_cast<int32_t>(step), error};
    ssize_t ignored = write(reportFd, &report, sizeof report);
    (void)ignored;
    _exit(127);
}

// A pipe end that sits on descriptor 0, 1 or 2 would be overwritten by the
// other end's dup2; move it out of the way first.
int MoveAboveStandard(int fd) { return fd > 2 ? fd : fcntl(fd, F_DUPFD_CLOEXEC, 3); }

// Everything above the standard descriptors closes at exec, whether or not
// its owner asked for close-on-exec.
void CloseOthersOnExec() {
    if (close_range(3, ~0u, CLOSE_RANGE_CLOEXEC) == 0) return;
    rlimit limit;
    int top = getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < 65536 ? static_cast<int>(limit.rlim_cur) : 65536;
    for (int fd = 3; fd < top; ++fd) fcntl(fd, F_SETFD, FD_CLOEXEC);
}

// The child's side between fork and exec: only async-signal-safe calls.
[[noreturn]] void RunChild(char* const* argv, const char* workDir, int childStdIn, int childStdOut, int reportFd) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);

    int in = MoveAboveStandard(childStdIn);
    int out = MoveAboveStandard(childStdOut);
    if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0)
        ReportStartFailure(reportFd, Platform::StartFailure::PROGRAM, errno);
    fcntl(2, F_SETFD, 0);  // the referee's standard error stays the child's

    if (workDir[0] != '\0' && chdir(workDir) != 0)
        ReportStartFailure(reportFd, Platform::StartFailure::WORK_DIR, errno);
    CloseOthersOnExec();
    execvp(argv[0], argv);
    ReportStartFailure(reportFd, Platform::StartFailure::PROGRAM, errno);
}

// Reads the child's report: true with it filled when the child failed, false
// when the report pipe closed empty because the program began.
bool ReadStartReport(int reportFd, StartReport& report) {
    size_t got = 0;
    char* bytes = reinterpret_cast<char*>(&report);
    while (got < sizeof report) {
        ssize_t n = read(reportFd, bytes + got, sizeof report - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    return got == sizeof report;
}

void WaitForChild(pid_t pid) {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace

namespace Platform {

std::vector<std::string> SplitCommandLine(const std::string& cmdLine) {
    std::vector<std::string> args;
    size_t pos = 0;
    SkipBlanks(cmdLine, pos);
    if (pos == cmdLine.size()) return args;
    args.push_back(TakeProgramName(cmdLine, pos));
    for (;;) {
        SkipBlanks(cmdLine, pos);
        if (pos == cmdLine.size()) return args;
        args.push_back(TakeArgument(cmdLine, pos));
    }
}

bool StartProcess(const std::string& cmdLine, const std::string& workDir, PipeHandle childStdIn,
                  PipeHandle childStdOut, ProcessHandle& process, StartFailure& failure) {
    process = INVALID_HANDLE_VALUE;
    failure = StartFailure::PROGRAM;
    if (childStdIn < 0 || childStdOut < 0) return Fail(EBADF);
    std::vector<std::string> args = SplitCommandLine(cmdLine);
    if (args.empty() || args[0].empty()) return Fail(ENOENT);
    // Everything the child needs is built before fork: it may not allocate.
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);

    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return Fail(errno);
    IgnoreBrokenPipeSignal();
    pid_t pid = fork();
    if (pid == 0) RunChild(argv.data(), workDir.c_str(), childStdIn, childStdOut, report[1]);
    int forkError = errno;
    close(report[1]);
    if (pid < 0) {
        close(report[0]);
        return Fail(forkError);
    }
    StartReport result;
    bool failed = ReadStartReport(report[0], result);
    close(report[0]);
    if (failed) {
        WaitForChild(pid);
        failure = static_cast<StartFailure>(result.step);
        return Fail(result.error);
    }
    failure = StartFailure::NONE;
    process = pid;
    return true;
}

bool TerminateProcess(ProcessHandle process) {
    if (kill(process, SIGKILL) != 0) return Fail(errno);
    WaitForChild(process);
    return true;
}

}  // namespace Platform

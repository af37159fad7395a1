#include "RunProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace {

double NowSeconds() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

void ChildExec(const std::vector<std::string>& argv, const RunOptions& options, int inFd, int outFd, int errFd) {
    dup2(inFd, 0);
    dup2(outFd, 1);
    dup2(errFd, 2);
    for (const std::string& name : options.unsetEnv) unsetenv(name.c_str());
    for (const std::string& kv : options.extraEnv) putenv(strdup(kv.c_str()));
    if (!options.workDir.empty() && chdir(options.workDir.c_str()) != 0) _exit(126);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    // Leave only the three standard descriptors open in the program under test.
    for (int fd = 3; fd < 1024; ++fd) close(fd);
    execvp(args[0], args.data());
    _exit(127);
}

}  // namespace

RunResult RunProcess(const std::vector<std::string>& argv, const RunOptions& options) {
    RunResult result;
    int inPipe[2], outPipe[2], errPipe[2];
    if (pipe2(inPipe, O_CLOEXEC) != 0 || pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
        result.err = "pipe failed";
        return result;
    }
    const double start = NowSeconds();
    pid_t pid = fork();
    if (pid == 0) ChildExec(argv, options, inPipe[0], outPipe[1], errPipe[1]);
    close(inPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    signal(SIGPIPE, SIG_IGN);
    if (!options.stdinText.empty()) {
        ssize_t ignored = write(inPipe[1], options.stdinText.data(), options.stdinText.size());
        (void)ignored;
    }
    close(inPipe[1]);

    const double deadline = NowSeconds() + options.timeoutSeconds;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    char buf[65536];
    while (open > 0) {
        double left = deadline - NowSeconds();
        if (left <= 0) {
            result.timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        int n = poll(fds, 2, static_cast<int>(left * 1000) + 1);
        if (n < 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            ssize_t got = read(fds[i].fd, buf, sizeof buf);
            if (got <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            } else {
                (i == 0 ? result.out : result.err).append(buf, static_cast<size_t>(got));
            }
        }
        if (options.stopAtOutputSize > 0 && result.out.size() >= options.stopAtOutputSize) {
            result.stopped = true;
            kill(pid, SIGKILL);
            break;
        }
    }
    for (pollfd& p : fds) {
        if (p.fd >= 0) close(p.fd);
    }
    int status = 0;
    rusage usage;
    wait4(pid, &status, 0, &usage);
    result.wallSeconds = NowSeconds() - start;
    result.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                        usage.ru_stime.tv_usec / 1e6;
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

RunResult RunReferee(const std::vector<std::string>& args, const RunOptions& options) {
    std::vector<std::string> argv = {ZVREF_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProcess(argv, options);
}

MatchRun PlayWindowlessMatch(const std::string& dir, std::vector<std::string> command, const std::string& player1,
                             const std::string& player2) {
    for (const std::string& arg : {std::string("-m"), std::string(SOURCE_DIR "/maps/demo.txt"), std::string("-r"),
                                   dir + "/match.rep", player1, player2})
        command.push_back(arg);
    RunOptions options;
    options.unsetEnv = {"DISPLAY"};
    options.workDir = dir;
    options.timeoutSeconds = 900;
    MatchRun match;
    match.run = RunProcess(command, options);
    match.replay = ReadFile(dir + "/match.rep");
    return match;
}

std::string MakeTempDir(const std::string& prefix) {
    std::string pattern = prefix + "-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    char* dir = mkdtemp(buf.data());
    if (!dir) return std::string();
    // Absolute, so that it still names the directory from a child's own working directory.
    char* absolute = realpath(dir, nullptr);
    std::string path = absolute ? absolute : dir;
    free(absolute);
    return path;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary);
    out << contents;
}

int CountOccurrences(const std::string& haystack, const std::string& needle) {
    int count = 0;
    for (size_t pos = haystack.find(needle); pos != std::string::npos; pos = haystack.find(needle, pos + needle.size()))
        ++count;
    return count;
}

// Runs a real program for a test: its arguments, working directory and
// environment, with standard output and standard error captured, and a time
// limit after which it is killed (a hang fails the test instead of the suite).
#pragma once

#include <string>
#include <vector>

// True in a build with AddressSanitizer or ThreadSanitizer: the programs
// under test then take far more time and memory than in the plain build.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool SANITIZED = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool SANITIZED = true;
#else
constexpr bool SANITIZED = false;
#endif
#else
constexpr bool SANITIZED = false;
#endif

struct RunResult {
    int exitCode = -1;      // the exit status, or -1 when it was killed by a signal
    int signal = 0;         // the signal that ended it, 0 when it exited
    bool timedOut = false;  // killed after the time limit
    bool stopped = false;   // killed once its output held RunOptions::stopAtOutputSize bytes
    std::string out;        // standard output
    std::string err;        // standard error
    double cpuSeconds = 0;  // the processor time it used, user and system
    double wallSeconds = 0; // from its start to its end
};

struct RunOptions {
    std::string workDir;                 // empty: the test's own
    std::vector<std::string> extraEnv;   // "NAME=value" added to the environment
    std::vector<std::string> unsetEnv;   // names removed from the environment
    double timeoutSeconds = 60.0;
    std::string stdinText;               // written to standard input, which is then closed
    size_t stopAtOutputSize = 0;         // kill it once its standard output holds this much; 0: never
};

RunResult RunProcess(const std::vector<std::string>& argv, const RunOptions& options = RunOptions());

// Runs the referee with the arguments.
RunResult RunReferee(const std::vector<std::string>& args, const RunOptions& options = RunOptions());

// A whole match without a window, played in dir: command (a referee, or a
// program that runs one, with their options), then the demo map, the
// replay dir/match.rep and the two players.
struct MatchRun {
    RunResult run;
    std::string replay;  // the replay's bytes once the match has ended
};
MatchRun PlayWindowlessMatch(const std::string& dir, std::vector<std::string> command, const std::string& player1,
                             const std::string& player2);

// A fresh empty directory under the test's working directory, as an absolute path.
std::string MakeTempDir(const std::string& prefix);

// Whole file contents; empty when it cannot be read.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& contents);

// The number of times needle occurs in haystack.
int CountOccurrences(const std::string& haystack, const std::string& needle);

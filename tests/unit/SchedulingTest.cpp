// The referee asks the scheduler for short time slices on its game thread;
// the priority the user starts it with must stand on every thread: its nice
// value and its scheduling policy.  A test player reports the policy and
// nice value of each of the referee's threads in the middle of a match.
#include <gtest/gtest.h>

#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "RunProcess.h"

namespace {

constexpr int SCHED_OTHER_POLICY = 0;
constexpr int SCHED_BATCH_POLICY = 3;
constexpr int SCHED_IDLE_POLICY = 5;

struct Wrapper {
    const char* name;
    std::vector<std::string> command;  // put before the referee's own command line
    int policy;
    int nice;
};

struct ThreadSched {
    int policy;
    int nice;
};

std::vector<ThreadSched> ParseReport(const std::string& text) {
    std::vector<ThreadSched> threads;
    std::istringstream lines(text);
    long tid;
    ThreadSched thread;
    while (lines >> tid >> thread.policy >> thread.nice) threads.push_back(thread);
    return threads;
}

}  // namespace

TEST(Scheduling, TheUsersPolicyAndNiceValueStandOnEveryThread) {
    const Wrapper wrappers[] = {
        {"none", {}, SCHED_OTHER_POLICY, 0},
        {"nice 10", {"/usr/bin/nice", "-n", "10"}, SCHED_OTHER_POLICY, 10},
        {"batch", {"/usr/bin/chrt", "-b", "0"}, SCHED_BATCH_POLICY, 0},
        {"idle", {"/usr/bin/chrt", "-i", "0"}, SCHED_IDLE_POLICY, 0},
        {"nice 5 and batch", {"/usr/bin/nice", "-n", "5", "/usr/bin/chrt", "-b", "0"}, SCHED_BATCH_POLICY, 5},
    };
    if (access("/usr/bin/nice", X_OK) != 0 || access("/usr/bin/chrt", X_OK) != 0)
        GTEST_SKIP() << "needs /usr/bin/nice and /usr/bin/chrt";
    // A test runner started niced would see its own value added.
    ASSERT_EQ(nice(0), 0) << "the test itself runs niced";
    for (const Wrapper& wrapper : wrappers) {
        SCOPED_TRACE(wrapper.name);
        const std::string dir = MakeTempDir("sched");
        const std::string report = dir + "/threads.txt";
        std::vector<std::string> command = wrapper.command;
        for (const char* arg : {ZVREF_PATH, "-d", "-f"}) command.push_back(arg);
        const RunResult run =
            PlayWindowlessMatch(dir, command, TESTPLAYER_DIR "/sched_report " + report, PLAYER_DIR "/idle").run;
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const std::vector<ThreadSched> threads = ParseReport(ReadFile(report));
        // The main thread, the four lidar workers and the game thread at least.
        ASSERT_GE(threads.size(), 6u) << ReadFile(report);
        for (const ThreadSched& thread : threads) {
            EXPECT_EQ(thread.policy, wrapper.policy) << ReadFile(report);
            EXPECT_EQ(thread.nice, wrapper.nice) << ReadFile(report);
        }
    }
}

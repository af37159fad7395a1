// ctest-labels: threads
// Waits that block instead of spinning: the platform's doorbell, its wait on
// pipes and its sleep, and whole matches in which the referee leaves the
// processors to the players while it waits for them.
#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>
#include <vector>

#include "Platform.h"
#include "PlatformPipes.h"
#include "RunProcess.h"
#include "WaitPolicy.h"

namespace {

int64_t ElapsedMs(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since).count();
}

// A hang here is a lost wake-up: report it and stop rather than wait for the
// suite's time limit.
void FinishOrAbort(std::future<void>& done, const char* what) {
    if (done.wait_for(std::chrono::minutes(2)) == std::future_status::ready) return;
    fprintf(stderr, "%s: still waiting after two minutes, a wake-up was lost\n", what);
    abort();
}

}  // namespace

// ---------------------------------------------------------------- the estimated run delay

namespace {

// Spins for the time given; the estimate of its run delay in percent of it.
int64_t SpinAndEstimatePercent(std::chrono::milliseconds length) {
    const int64_t startDelay = Platform::EstimatedRunDelayNs();
    const int64_t start = Platform::NowNs();
    const auto until = std::chrono::steady_clock::now() + length;
    while (std::chrono::steady_clock::now() < until) {
    }
    return (Platform::EstimatedRunDelayNs() - startDelay) * 100 / (Platform::NowNs() - start);
}

}  // namespace

// Where the system keeps no scheduler statistics, the time a thread could
// have run but did not is what its clocks tell: a thread that blocks has
// lost nothing, two busy threads on one processor have lost half their time.
TEST(RunDelayEstimate, TellsBlockedFromStarvedTime) {
    const int64_t startDelay = Platform::EstimatedRunDelayNs();
    const int64_t start = Platform::NowNs();
    for (int i = 0; i < 50; ++i) Platform::SleepMs(2);
    EXPECT_LT((Platform::EstimatedRunDelayNs() - startDelay) * 100 / (Platform::NowNs() - start), 20);

    cpu_set_t one;
    CPU_ZERO(&one);
    ASSERT_EQ(sched_getaffinity(0, sizeof one, &one), 0);
    int first = 0;
    while (!CPU_ISSET(first, &one)) ++first;
    CPU_ZERO(&one);
    CPU_SET(first, &one);
    int64_t percent[2] = {};
    std::vector<std::thread> threads;
    for (int k = 0; k < 2; ++k) {
        threads.emplace_back([&one, &percent, k] {
            if (pthread_setaffinity_np(pthread_self(), sizeof one, &one) != 0) return;
            percent[k] = SpinAndEstimatePercent(std::chrono::milliseconds(300));
        });
    }
    for (std::thread& thread : threads) thread.join();
    // Each has had at most half the processor while both ran; the first to
    // end ran alone for a little at the start or the end.
    EXPECT_GE(percent[0] + percent[1], 60) << percent[0] << " " << percent[1];
}

// ---------------------------------------------------------------- doorbell

// The lidar workers' hand-off in miniature: a releaser sets one bit per
// worker and rings, each worker takes its bit, and the last to finish rings
// back.  With no spin at all every wait blocks, so a wake-up lost between a
// waiter's test and its sleep would hang a round.
TEST(Doorbell, ReleasesAndReportsLoseNoWakeUp) {
    constexpr int WORKERS = 4;
    constexpr uint32_t ALL = (1u << WORKERS) - 1;
    constexpr int ROUNDS = 5000;
    std::atomic<uint32_t> taskBits{0};
    std::atomic<uint32_t> doneBits{0};
    std::atomic<bool> stop{false};
    Doorbell taskBell;
    Doorbell doneBell;

    std::vector<std::thread> workers;
    for (int k = 0; k < WORKERS; ++k) {
        workers.emplace_back([&, k] {
            const uint32_t bit = 1u << k;
            SpinPolicy spin(0, 1);
            for (;;) {
                taskBell.Wait(spin, [&] { return stop || (taskBits & bit) != 0; });
                if (stop) return;
                taskBits.fetch_and(~bit);
                if ((doneBits.fetch_or(bit) | bit) == ALL) doneBell.Ring();
            }
        });
    }
    std::future<void> done = std::async(std::launch::async, [&] {
        SpinPolicy spin(0, 1);
        for (int round = 0; round < ROUNDS; ++round) {
            taskBits = ALL;
            taskBell.Ring();
            doneBell.Wait(spin, [&] { return doneBits == ALL; });
            doneBits = 0;
        }
    });
    FinishOrAbort(done, "Doorbell");
    stop = true;
    taskBell.Ring();
    for (std::thread& worker : workers) worker.join();
    EXPECT_EQ(taskBits.load(), 0u);
}

// ---------------------------------------------------------------- waiting on pipes and sleeping

TEST(PipeWait, ReturnsWhenThereIsSomethingToReadOrAtTheDeadline) {
    struct Case {
        const char* name;
        bool write;       // the child's end holds a byte
        bool closeChild;  // the child's end is closed: end of file
        bool early;       // the wait ends long before its deadline
    } cases[] = {
        {"bytes to read", true, false, true},
        {"the writer has gone", false, true, true},
        {"nothing yet", false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Platform::PipeHandle ours, child;
        ASSERT_TRUE(Platform::CreatePipe(Platform::PipeDirection::FROM_CHILD, ours, child));
        if (c.write) {
            ASSERT_EQ(write(child, "x", 1), 1);
        }
        if (c.closeChild) Platform::ClosePipe(child);
        // Long enough that an early return cannot be the deadline, short
        // enough to wait it out where nothing comes.
        const int64_t waitMs = c.early ? 60000 : 50;
        const int64_t until = Platform::PerformanceCounter() + waitMs * Platform::PerformanceFrequency() / 1000;
        const auto start = std::chrono::steady_clock::now();
        Platform::WaitForPipes(&ours, 1, until);
        if (c.early) {
            EXPECT_LT(ElapsedMs(start), 30000);
        } else {
            EXPECT_GE(Platform::PerformanceCounter(), until);
        }
        Platform::ClosePipe(ours);
        if (!c.closeChild) Platform::ClosePipe(child);
    }
}

TEST(PipeWait, SleepLastsUntilTheCounterValue) {
    const int64_t until = Platform::PerformanceCounter() + Platform::PerformanceFrequency() / 20;
    Platform::SleepUntil(until);
    EXPECT_GE(Platform::PerformanceCounter(), until);
}

// A test's clock moves only when it is read: waiting on it in real time
// would never end where the test expects.
TEST(PipeWait, ATestClockNeverBlocks) {
    static std::atomic<int64_t> s_now{0};
    Platform::SetCounterForTest([] { return s_now.fetch_add(1) + 1; });
    Platform::PipeHandle ours, child;
    ASSERT_TRUE(Platform::CreatePipe(Platform::PipeDirection::FROM_CHILD, ours, child));
    const auto start = std::chrono::steady_clock::now();
    Platform::WaitForPipes(&ours, 1, int64_t(3600) * Platform::PerformanceFrequency());
    Platform::SleepUntil(int64_t(3600) * Platform::PerformanceFrequency());
    Platform::SetCounterForTest(nullptr);
    EXPECT_LT(ElapsedMs(start), 30000);
    Platform::ClosePipe(ours);
    Platform::ClosePipe(child);
}

// ---------------------------------------------------------------- whole matches

// While it waits for answers (in the answer window, for the due time, or
// without limit in debug mode) the referee blocks: its processor time stays
// a small part of the match's wall time.  Players that send no command leave
// the robots standing, so the lidar costs nearly nothing after frame 1.
TEST(MatchWait, TheRefereeBlocksWhileItWaitsForThePlayers) {
    if (SANITIZED) GTEST_SKIP() << "measured in the plain build: under a sanitizer the start-up alone takes a good part of it";
    const std::string probe = std::string(TESTPLAYER_DIR "/probe_pacing");
    const std::string late = std::string(TESTPLAYER_DIR "/bad_late");
    struct Case {
        const char* name;
        std::vector<std::string> options;
        std::string player1, player2;
    } cases[] = {
        {"paced: waiting for the due time", {}, probe + " 100", probe + " 100"},
        {"fast: waiting out the answer window", {"-f"}, probe + " 60", late + " 30"},
        {"debug: waiting without limit", {"-d", "-f"}, probe + " 4", late + " 500"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string dir = MakeTempDir("wait");
        std::vector<std::string> args = c.options;
        for (const char* arg : {"-m", SOURCE_DIR "/maps/demo.txt", "-l", "ERR"}) args.push_back(arg);
        args.push_back("-r");
        args.push_back(dir + "/match.rep");
        args.push_back(c.player1);
        args.push_back(c.player2);
        RunOptions options;
        options.unsetEnv = {"DISPLAY"};
        options.workDir = dir;
        options.timeoutSeconds = 600;
        const RunResult run = RunReferee(args, options);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        // The probe leaves after its frames: a runtime error ends the match.
        EXPECT_NE(run.out.find("\"status\":\"Runtime error.\""), std::string::npos) << run.out;
        EXPECT_LT(run.cpuSeconds, 0.25 * run.wallSeconds) << run.cpuSeconds << " s of processor time in "
                                                          << run.wallSeconds << " s";
    }
}

// ctest-labels: threads
// Who runs the lidar tasks: the policy reads the machine's load and the
// processors allowed through the platform seam, which the tests replace, so
// that each path is taken whatever the machine's own load.  On a busy
// machine or a single processor the game thread runs every task itself; on
// an idle machine with processors to spare the workers take tasks too.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "Game.h"
#include "Platform.h"
#include "Robot.h"
#include "RobotTestSupport.h"
#include "WaitPolicy.h"

namespace {

std::mutex g_threadsMutex;
std::set<std::thread::id> g_scanThreads;

// A scan that takes a while, so that a woken worker finds a task left, and
// tells which thread ran it.
std::vector<float> SlowScan(const Map&, b2Vec2, float, const std::vector<RadarObstacle>&) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(500);
    while (std::chrono::steady_clock::now() < until) {
    }
    std::lock_guard<std::mutex> lock(g_threadsMutex);
    g_scanThreads.insert(std::this_thread::get_id());
    return std::vector<float>(360, 0.1f);
}

// The game thread waited for a processor all the time / never.
int64_t BusyRunDelay() { return Platform::NowNs(); }
int64_t QuietRunDelay() { return 0; }

class RadarWorkersTest : public testing::Test {
protected:
    static void SetUpTestSuite() { InitGameOnceWithMap(FixtureMapPath("robot_radar.txt")); }

    void SetUp() override {
        m_defaultFast = Robot::s_fastScan;
        Robot::s_fastScan = SlowScan;
    }

    void TearDown() override {
        Robot::s_fastScan = m_defaultFast;
        Platform::SetRunDelayForTest(nullptr);
        Platform::SetProcessorsAllowedForTest(0);
    }

    // One frame's lidar; the threads that ran its scans.
    static std::set<std::thread::id> PlayFrame() {
        {
            std::lock_guard<std::mutex> lock(g_threadsMutex);
            g_scanThreads.clear();
        }
        Robot::StartRadarTasks();
        Robot::WaitRadarTasks();
        std::lock_guard<std::mutex> lock(g_threadsMutex);
        return g_scanThreads;
    }

    // Frames until the gauge has taken in the machine the test made up: its
    // processors (read about once a second) and whether some are spare.
    // Then a few more, so that workers still awake from earlier frames have
    // gone to sleep.
    static bool PlayUntilGauge(int processors, bool spare) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        const LoadGauge& load = ProcessLoad();
        while (load.ProcessorsAllowed() != processors || load.HasProcessorsToSpare() != spare) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            PlayFrame();
        }
        for (int frame = 0; frame < 10; ++frame) PlayFrame();
        return true;
    }

    static void ExpectGameThreadRunsEveryTask() {
        for (int frame = 0; frame < 30; ++frame) {
            const std::set<std::thread::id> threads = PlayFrame();
            ASSERT_EQ(threads.size(), 1u) << "frame " << frame;
            EXPECT_EQ(*threads.begin(), std::this_thread::get_id()) << "frame " << frame;
        }
    }

    Robot::RadarScanFn m_defaultFast = nullptr;
};

}  // namespace

TEST_F(RadarWorkersTest, BusyMachineLeavesEveryTaskToTheGameThread) {
    Platform::SetProcessorsAllowedForTest(8);
    Platform::SetRunDelayForTest(BusyRunDelay);
    ASSERT_TRUE(PlayUntilGauge(8, false));
    ExpectGameThreadRunsEveryTask();
}

TEST_F(RadarWorkersTest, SingleProcessorLeavesEveryTaskToTheGameThread) {
    Platform::SetProcessorsAllowedForTest(1);
    Platform::SetRunDelayForTest(QuietRunDelay);
    ASSERT_TRUE(PlayUntilGauge(1, true));
    ExpectGameThreadRunsEveryTask();
}

TEST_F(RadarWorkersTest, IdleMachineLetsTheWorkersHelp) {
    Platform::SetProcessorsAllowedForTest(8);
    Platform::SetRunDelayForTest(QuietRunDelay);
    ASSERT_TRUE(PlayUntilGauge(8, true));
    // A wake-up that came late makes the next releases leave the workers
    // alone for a while; on a busy test machine that may happen now and then.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    bool helped = false;
    while (!helped && std::chrono::steady_clock::now() < deadline) {
        for (std::thread::id id : PlayFrame()) helped = helped || id != std::this_thread::get_id();
    }
    EXPECT_TRUE(helped);
}

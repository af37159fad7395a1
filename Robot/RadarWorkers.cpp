#include "RadarWorkers.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

#include "Game.h"
#include "Log.h"
#include "Player.h"
#include "Robot.h"
#include "Shortcuts.h"
#include "WaitPolicy.h"

namespace {

// A worker spins for its next task through the rest of a frame, which
// includes the players' answers; the game thread's wait for the reports is
// short, and spins as long as its recent waits say it pays.
constexpr int64_t TASK_SPIN_US = 500;
constexpr int64_t REPORT_SPIN_US = 200;
// Either spin keeps a processor while the thread it waits for needs one.
constexpr int SPIN_PROCESSORS = 2;

// A woken worker that finds the release within this time of it came promptly.
constexpr int64_t PROMPT_WAKE_NS = 100000;

// Task t is the lidar of robot t % 4 of player t / 4.
constexpr int TASK_COUNT = PLAYER_ROBOT_NUMS * PLAYER_NUMS;

uint32_t TaskBit(int task) { return 1u << task; }

// Whether a release wakes sleeping workers.  While the game thread itself
// finds no processor to spare, waking them would only take processors from
// other work (another match, the players) while the game thread could run
// their tasks itself.  And after wake-ups that came late, sleepers are left
// alone for a while, twice as long each time up to a limit, so that waking
// them is tried again now and then.
class WakePolicy {
public:
    bool ShouldWake() {
        if (!ProcessLoad().HasProcessorsToSpare()) return false;
        if (m_iSkip == 0) return true;
        --m_iSkip;
        return false;
    }
    void Judge(bool prompt) {
        m_iBackoff = prompt ? 0 : std::min(MAX_BACKOFF, std::max(1, m_iBackoff * 2));
        m_iSkip = m_iBackoff;
    }

private:
    static constexpr int MAX_BACKOFF = 64;  // frames
    int m_iBackoff = 0;
    int m_iSkip = 0;
};

// The pool's state; one for the process.
struct Pool {
    // Guarded by Robot::m_taskMutex: the robots whose workers run, per id,
    // oldest first, and their number.
    std::vector<Robot*> workers[PLAYER_ROBOT_NUMS];
    int workerCount = 0;
    // Game thread only: the number of workers at the last release.
    int releaseWorkers = 0;

    // Written by the game thread before the release, read by the workers
    // after it: the first player's robot of each id, and the frame's tasks
    // (for the reports, which ring the game thread when they complete them).
    Robot* taskRobot[PLAYER_ROBOT_NUMS] = {};
    std::atomic<uint32_t> requestBits{0};
    // The tasks whose scans are done and whose cells are still to be
    // marked, and those whose cells are marked.
    std::atomic<uint32_t> markBits{0};
    std::atomic<uint32_t> markedBits{0};

    // The workers wait for tasks (or their stop flag, or a call) here, the
    // game thread for the reports.
    Doorbell taskBell;
    Doorbell doneBell;

    // The workers the game thread wants helping (set at each release),
    // those that spin for their next task now, and the calls to sleeping
    // workers to come and spin.
    std::atomic<int> helpers{0};
    std::atomic<int> spinners{0};
    std::atomic<int> calls{0};

    // A release's wake-ups: game thread only, but for the release's time
    // and the woken workers that came promptly, which the workers write.
    WakePolicy wakePolicy;
    int wokenCount = 0;
    std::atomic<int64_t> releaseNs{0};
    std::atomic<int> promptCount{0};

    SpinPolicy scansSpin{REPORT_SPIN_US, SPIN_PROCESSORS};
    SpinPolicy marksSpin{REPORT_SPIN_US, SPIN_PROCESSORS};
};

Pool s_pool;

Robot* TaskRobot(int task) {
    if (task < PLAYER_ROBOT_NUMS) return s_pool.taskRobot[task];
    return &Game::GetInstance()->GetPlayer(1).GetRobot(task - PLAYER_ROBOT_NUMS);
}

// Takes one of the tasks of the mask that nobody has taken; -1 when none is left.
int TakeTask(std::atomic<uint32_t>& bits) {
    for (uint32_t left = bits.load(); left != 0; left = bits.load()) {
        const int task = __builtin_ctz(left);
        if (bits.fetch_and(~TaskBit(task)) & TaskBit(task)) return task;
    }
    return -1;
}

bool AllReported(const std::atomic<uint32_t>& bits) { return bits == s_pool.requestBits; }

// Only the report that completes the frame's mask can end the game thread's wait.
void Report(std::atomic<uint32_t>& bits, int task) {
    const uint32_t done = bits.fetch_or(TaskBit(task)) | TaskBit(task);
    if (done == s_pool.requestBits) s_pool.doneBell.Ring();
}

void WaitForReports(SpinPolicy& spin, const std::atomic<uint32_t>& bits) {
    s_pool.doneBell.Wait(spin, [&bits] { return AllReported(bits); });
}

bool HasWork() { return Robot::m_taskBits != 0 || s_pool.markBits != 0; }

// Whether the workers may spin for their tasks now.
bool WorkersMaySpin() { return SpinPolicy::IsAllowed(SPIN_PROCESSORS); }

// How many workers the frames want helping the game thread.
int WantedHelpers(int workers) {
    const LoadGauge& load = ProcessLoad();
    if (!load.HasProcessorsToSpare() || load.PlayersSetThePace()) return 0;
    return std::max(0, std::min(workers, load.ProcessorsAllowed() - 1));
}

// Consumes one call to spin; false when there was none.
bool TakeCall() {
    int calls = s_pool.calls;
    while (calls > 0 && !s_pool.calls.compare_exchange_weak(calls, calls - 1)) {
    }
    return calls > 0;
}

}  // namespace

void RadarWorkers::RunScan(int task) {
    TaskRobot(task)->ScanRecordedInputs();
    Report(Robot::m_doneBits, task);
    s_pool.markBits.fetch_or(TaskBit(task));
}

void RadarWorkers::RunMark(int task) {
    TaskRobot(task)->MarkDueCells(true);
    Report(s_pool.markedBits, task);
}

bool RadarWorkers::RunOneTask() {
    int task = TakeTask(Robot::m_taskBits);
    if (task >= 0) {
        RunScan(task);
        return true;
    }
    task = TakeTask(s_pool.markBits);
    if (task < 0) return false;
    RunMark(task);
    return true;
}

void RadarWorkers::AddWorker(Robot* robot) {
    std::lock_guard<std::mutex> lock(Robot::m_taskMutex);
    s_pool.workers[robot->m_iId].push_back(robot);
    ++s_pool.workerCount;
}

void RadarWorkers::RemoveWorker(Robot* robot) {
    std::lock_guard<std::mutex> lock(Robot::m_taskMutex);
    std::vector<Robot*>& list = s_pool.workers[robot->m_iId];
    list.erase(std::remove(list.begin(), list.end(), robot), list.end());
    --s_pool.workerCount;
}

void RadarWorkers::WakeAll() { s_pool.taskBell.Ring(); }

// ---------------------------------------------------------------- game thread

void RadarWorkers::Release() {
    HARD_ASSERT(Robot::m_taskBits == 0);
    ProcessLoad().Measure();
    {
        std::lock_guard<std::mutex> lock(Robot::m_taskMutex);
        s_pool.releaseWorkers = s_pool.workerCount;
        for (int id = 0; id < PLAYER_ROBOT_NUMS; ++id)
            s_pool.taskRobot[id] = s_pool.workers[id].empty() ? nullptr : s_pool.workers[id].front();
    }
    uint32_t request = 0;
    for (int task = 0; task < TASK_COUNT; ++task) {
        // Only the robots of the ids that have a worker; and robots whose
        // inputs did not change need no task: standing robots cost no
        // hand-off.
        if (!s_pool.taskRobot[task % PLAYER_ROBOT_NUMS]) continue;
        if (TaskRobot(task)->RecordScanInputs()) request |= TaskBit(task);
    }
    s_pool.requestBits = request;
    const int workers = s_pool.releaseWorkers;
    s_pool.helpers.store(TAKE_SHORTCUTS ? WantedHelpers(workers) : workers, std::memory_order_relaxed);
    s_pool.wokenCount = 0;
    s_pool.promptCount = 0;
    s_pool.releaseNs = Platform::NowNs();
    Robot::m_taskBits.exchange(request);
    if (request == 0) return;
    if (!TAKE_SHORTCUTS) {
        // Every task to the workers, as many as there are.
        s_pool.taskBell.Ring();
        return;
    }
    WakeForTasks();
    Robot::ComputeCellClearance();
}

void RadarWorkers::WakeForTasks() {
    // Workers that may spin were called to do so while the players
    // answered: a worker woken now may take the game thread's own processor
    // for as long as its tasks last.
    if (WorkersMaySpin()) return;
    const int wake = std::min(s_pool.taskBell.Sleepers(), s_pool.helpers.load(std::memory_order_relaxed));
    if (wake <= 0 || !s_pool.wakePolicy.ShouldWake()) return;
    if (s_pool.taskBell.Ring(wake)) s_pool.wokenCount = wake;
}

void RadarWorkers::WaitScans() {
    if (TAKE_SHORTCUTS) {
        for (int task = TakeTask(Robot::m_taskBits); task >= 0; task = TakeTask(Robot::m_taskBits)) RunScan(task);
        // Cells while the workers end their scans, one task at a time: the
        // frame messages wait for the scans only.
        while (!AllReported(Robot::m_doneBits)) {
            const int task = TakeTask(s_pool.markBits);
            if (task < 0) break;
            RunMark(task);
        }
    }
    WaitForReports(s_pool.scansSpin, Robot::m_doneBits);
    Robot::m_doneBits.exchange(0);
    if (s_pool.wokenCount > 0) s_pool.wakePolicy.Judge(s_pool.promptCount > 0);
}

void RadarWorkers::MarkOwnTasks() {
    if (!TAKE_SHORTCUTS) return;
    // Workers that help take the cells, while the game thread reads the
    // answers; and those that sleep come and spin for the next frame.
    if (s_pool.helpers.load(std::memory_order_relaxed) > 0) {
        CallHelpers();
        return;
    }
    // Alone, the game thread marks them now only while the players think
    // on processors of their own.  Otherwise the players answer first: they
    // were woken onto the game thread's processor, and a match whose threads
    // run on several processors at once is a bad neighbour on a busy machine.
    const LoadGauge& load = ProcessLoad();
    if (!load.PlayersSetThePace() || !load.HasProcessorsToSpare()) return;
    for (int task = TakeTask(s_pool.markBits); task >= 0; task = TakeTask(s_pool.markBits)) RunMark(task);
}

void RadarWorkers::CallHelpers() {
    if (!WorkersMaySpin()) return;
    const int sleeping = s_pool.taskBell.Sleepers();
    const int awake = s_pool.releaseWorkers - sleeping;
    const int call = std::min(sleeping, s_pool.helpers.load(std::memory_order_relaxed) - awake);
    if (call <= 0) return;
    s_pool.calls += call;
    s_pool.taskBell.Ring(call);
}

void RadarWorkers::WaitMarks() {
    if (TAKE_SHORTCUTS) {
        for (int task = TakeTask(s_pool.markBits); task >= 0; task = TakeTask(s_pool.markBits)) RunMark(task);
    }
    WaitForReports(s_pool.marksSpin, s_pool.markedBits);
    s_pool.markedBits.exchange(0);
    Robot::DropCellClearance();
    s_pool.requestBits = 0;
}

// ---------------------------------------------------------------- workers

void RadarWorkers::Serve(Robot* robot) {
    SpinPolicy spin(TASK_SPIN_US, SPIN_PROCESSORS);
    auto ready = [robot] { return robot->m_bStop || HasWork(); };
    auto readyOrCalled = [robot] { return robot->m_bStop || HasWork() || s_pool.calls > 0; };
    for (;;) {
        // No more workers spin than the frames want helping.  The spin is
        // not learnt from the waits: a worker that stopped spinning would
        // miss its tasks and sleep longer and longer.  It stops where the
        // frames no longer want it.
        const bool maySpin = s_pool.spinners.fetch_add(1) < s_pool.helpers.load(std::memory_order_relaxed);
        const bool spun = maySpin ? spin.Spin(ready) : ready();
        --s_pool.spinners;
        if (!spun) {
            s_pool.taskBell.Block(readyOrCalled);
            const bool called = TakeCall();
            if (robot->m_bStop) return;
            // Called to spin for the next frame's tasks.
            if (called && !HasWork()) continue;
            if (Platform::NowNs() - s_pool.releaseNs <= PROMPT_WAKE_NS) ++s_pool.promptCount;
        }
        if (robot->m_bStop) return;
        // Scans before cells: the frame messages wait for the scans only.
        while (RunOneTask()) {
        }
        if (robot->m_bStop) return;
    }
}

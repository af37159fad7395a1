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

// A worker waits for its next task through the rest of a frame, which
// includes the players' answers; the game thread's wait for the reports
// is short.  Both spin first as long as their recent waits say it pays.
constexpr int64_t TASK_SPIN_US = 500;
constexpr int64_t REPORT_SPIN_US = 200;
// A worker's spin keeps a processor busy while the game thread, the
// players, the image encoder and the other workers may want theirs.
constexpr int TASK_SPIN_PROCESSORS = 2;
// The game thread's spin waits for the workers that help it.
constexpr int REPORT_SPIN_PROCESSORS = 2;

// A woken worker that finds the release within this time of it came promptly.
constexpr int64_t PROMPT_WAKE_NS = 100000;

uint32_t TaskBit(int id) { return 1u << id; }

// Whether a release wakes sleeping workers.  While the game thread itself
// finds no processor to spare, waking them would only take processors from
// other work (another match, the players) while the game thread could run
// their tasks itself.  And after wake-ups that came late, sleepers are left
// alone for a while, twice as long each time up to a limit, so that waking
// them is tried again now and then: where the gauge cannot tell, late
// wake-ups are what shows a busy machine.
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

    // Written by the game thread before the release, read by the workers
    // after it: the first player's robot of each task.
    Robot* taskRobot[PLAYER_ROBOT_NUMS] = {};
    // The tasks of the frame in progress (for the reports, which ring the
    // game thread when they complete it), and those the game thread ran.
    std::atomic<uint32_t> requestBits{0};
    uint32_t gameTaskBits = 0;
    std::atomic<uint32_t> markedBits{0};

    // The workers wait for tasks (or their stop flag) here, the game
    // thread for the reports.
    Doorbell taskBell;
    Doorbell doneBell;

    // Game thread only: the wake-up policy and the workers woken by this
    // frame's release.  The release's time and the woken workers that
    // came promptly are written by both sides.
    WakePolicy wakePolicy;
    int wokenCount = 0;
    // Wake-ups still to pass on: each woken worker wakes the next, so that
    // the release pays for one wake-up only (on some machines each costs
    // the waker several microseconds).
    std::atomic<int> wakesToPass{0};
    // The workers the game thread wants helping (set at each release), and
    // those that spin for their next task now.
    std::atomic<int> helpers{0};
    std::atomic<int> spinners{0};
    std::atomic<int64_t> releaseNs{0};
    std::atomic<int> promptCount{0};

    SpinPolicy scansSpin{REPORT_SPIN_US, REPORT_SPIN_PROCESSORS};
    SpinPolicy marksSpin{REPORT_SPIN_US, REPORT_SPIN_PROCESSORS};
};

Pool s_pool;

Robot& SecondPlayerRobot(int id) { return Game::GetInstance()->GetPlayer(1).GetRobot(id); }

// Takes one of the frame's tasks that nobody has taken; -1 when none is left.
int TakeTask() {
    for (uint32_t bits = Robot::m_taskBits.load(); bits != 0; bits = Robot::m_taskBits.load()) {
        const int id = __builtin_ctz(bits);
        if (Robot::m_taskBits.fetch_and(~TaskBit(id)) & TaskBit(id)) return id;
    }
    return -1;
}

// Only the report that completes the frame's mask can end the game thread's wait.
void Report(std::atomic<uint32_t>& bits, int id) {
    const uint32_t done = bits.fetch_or(TaskBit(id)) | TaskBit(id);
    if (done == s_pool.requestBits) s_pool.doneBell.Ring();
}

void WaitForReports(SpinPolicy& spin, const std::atomic<uint32_t>& bits) {
    const uint32_t request = s_pool.requestBits;
    s_pool.doneBell.Wait(spin, [&bits, request] { return bits == request; });
}

// A worker just woken for tasks wakes the next one, while tasks are left.
void PassWakeUpOn() {
    int left = s_pool.wakesToPass;
    while (left > 0 && !s_pool.wakesToPass.compare_exchange_weak(left, left - 1)) {
    }
    if (left > 0 && Robot::m_taskBits != 0) s_pool.taskBell.Ring(1);
}

// How many workers the release wants awake for its tasks.
int WantedHelpers(int tasks, int workers) {
    const LoadGauge& load = ProcessLoad();
    if (!load.HasProcessorsToSpare()) return 0;
    return std::max(0, std::min({tasks, workers, load.ProcessorsAllowed() - 1}));
}

}  // namespace

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
    int workers;
    {
        std::lock_guard<std::mutex> lock(Robot::m_taskMutex);
        workers = s_pool.workerCount;
        for (int id = 0; id < PLAYER_ROBOT_NUMS; ++id)
            s_pool.taskRobot[id] = s_pool.workers[id].empty() ? nullptr : s_pool.workers[id].front();
    }
    uint32_t request = 0;
    for (int id = 0; id < PLAYER_ROBOT_NUMS; ++id) {
        Robot* robot = s_pool.taskRobot[id];
        if (!robot) continue;
        // Robots whose inputs did not change need no task: standing robots
        // cost no hand-off.
        const bool due = robot->TakeRadarInputs() | SecondPlayerRobot(id).TakeRadarInputs();
        if (due) request |= TaskBit(id);
    }
    s_pool.requestBits = request;
    s_pool.gameTaskBits = 0;
    s_pool.wokenCount = 0;
    s_pool.wakesToPass = 0;
    s_pool.promptCount = 0;
    s_pool.releaseNs = Platform::NowNs();
    Robot::m_taskBits.exchange(request);
    if (request == 0) return;
    if (!TAKE_SHORTCUTS) {
        // Every task to the workers, as many as there are.
        s_pool.taskBell.Ring();
        return;
    }
    const int sleeping = s_pool.taskBell.Sleepers();
    const int awake = std::max(0, workers - sleeping);
    const int helpers = WantedHelpers(__builtin_popcount(request), workers);
    s_pool.helpers.store(helpers, std::memory_order_relaxed);
    const int wake = std::min(sleeping, helpers - awake);
    if (wake > 0 && s_pool.wakePolicy.ShouldWake()) {
        s_pool.wakesToPass = wake - 1;
        if (s_pool.taskBell.Ring(1)) s_pool.wokenCount = wake;
    }
    Robot::TakeCellClearance();
}

void RadarWorkers::WaitScans() {
    for (int id = TAKE_SHORTCUTS ? TakeTask() : -1; id >= 0; id = TakeTask()) {
        s_pool.taskRobot[id]->ScanRecordedInputs();
        SecondPlayerRobot(id).ScanRecordedInputs();
        s_pool.gameTaskBits |= TaskBit(id);
        Report(Robot::m_doneBits, id);
    }
    WaitForReports(s_pool.scansSpin, Robot::m_doneBits);
    Robot::m_doneBits.exchange(0);
    if (s_pool.wokenCount > 0) s_pool.wakePolicy.Judge(s_pool.promptCount > 0);
}

void RadarWorkers::MarkOwnTasks() {
    for (int id = 0; id < PLAYER_ROBOT_NUMS; ++id) {
        if ((s_pool.gameTaskBits & TaskBit(id)) == 0) continue;
        s_pool.taskRobot[id]->MarkDueCells(true);
        SecondPlayerRobot(id).MarkDueCells(true);
        Report(s_pool.markedBits, id);
    }
    s_pool.gameTaskBits = 0;
}

void RadarWorkers::WaitMarks() {
    MarkOwnTasks();
    WaitForReports(s_pool.marksSpin, s_pool.markedBits);
    s_pool.markedBits.exchange(0);
    Robot::DropCellClearance();
    s_pool.requestBits = 0;
}

// ---------------------------------------------------------------- workers

void RadarWorkers::Serve(Robot* robot) {
    SpinPolicy spin(TASK_SPIN_US, TASK_SPIN_PROCESSORS);
    auto ready = [robot] { return robot->m_bStop || Robot::m_taskBits != 0; };
    for (;;) {
        // No more workers spin than the frames want helping.
        const bool maySpin = s_pool.spinners.fetch_add(1) < s_pool.helpers.load(std::memory_order_relaxed);
        const bool spun = maySpin ? spin.Spin(ready) : ready();
        --s_pool.spinners;
        if (!spun) {
            s_pool.taskBell.Block(ready);
            PassWakeUpOn();
        }
        if (robot->m_bStop) return;
        // The tasks came at the release, whenever the worker saw them.
        const int64_t release = s_pool.releaseNs;
        spin.Learn(spun ? Platform::NowNs() : release);
        if (!spun && Platform::NowNs() - release <= PROMPT_WAKE_NS) ++s_pool.promptCount;
        // The scans of every task it takes first: the frame messages wait
        // for them, not for the cells.
        uint32_t mine = 0;
        for (int id = TakeTask(); id >= 0; id = TakeTask()) {
            s_pool.taskRobot[id]->ScanRecordedInputs();
            SecondPlayerRobot(id).ScanRecordedInputs();
            mine |= TaskBit(id);
            Report(Robot::m_doneBits, id);
        }
        for (int id = 0; id < PLAYER_ROBOT_NUMS; ++id) {
            if ((mine & TaskBit(id)) == 0) continue;
            s_pool.taskRobot[id]->MarkDueCells(true);
            SecondPlayerRobot(id).MarkDueCells(true);
            Report(s_pool.markedBits, id);
        }
        if (robot->m_bStop) return;
    }
}

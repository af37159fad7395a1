// One robot: its two physics bodies, motion targets, carried product and
// lidar.  The first player's robots also start the four lidar workers
// (RadarWorkers), which compute the lidar and explored cells of all robots.
//
// Threads: Init on the main thread; drive step, trading, body switch and
// every write to the targets and product fields on the game thread.  From
// the release of a frame's lidar tasks until WaitRadarMarks returns, the
// lidar fields (m_radar, the recorded scan inputs and the scan cache) belong
// to the thread that runs the robot's task, as RadarWorkers.h tells.
// m_bStop is atomic.
#pragma once

#include <box2d/box2d.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class Map;
class WorkbenchList;
struct RadarObstacle;

constexpr float ROBOT_RADIUS = 0.45f;        // radius of the empty-handed body, metres
constexpr float ROBOT_CARRY_RADIUS = 0.53f;  // radius of the carrying body, metres

// Fixture user data that marks a robot's fixture for the contact listener.
constexpr uintptr_t ROBOT_FIXTURE_MARK = 1;

// Wraps an angle into [-pi, pi] in single precision (halves away from zero).
float NormalizeAngle(float angle);

class Robot {
public:
    // A lidar scan of the map from a position and heading past the other robots.
    using RadarScanFn = std::vector<float> (*)(const Map& map, b2Vec2 pos, float heading,
                                               const std::vector<RadarObstacle>& obstacles);

    Robot() = default;
    ~Robot();
    Robot(const Robot&) = delete;
    Robot& operator=(const Robot&) = delete;

    // Creates both bodies at pos; the first player's robots also start their
    // lidar worker.  False for a player other than 0 or 1, an id outside 0 to
    // 3, or a robot that was set up already.
    bool Init(int player, int id, b2Vec2 pos);

    // The drive step: forward, sideways and turning forces towards the targets.
    void UpdateMotion();
    // Pushes the active body along angle so that its speed along it reaches
    // the target in one step, within the force limit.
    void ApplyDirectionalForce(float targetSpeed, float angle, float maxForce);
    // Makes the other body the active one at the same place and speed.
    void SwitchBody();

    // Trading with the workbench the robot stands at (own player's only).
    bool Buy(int32_t& money);
    bool Sell(int32_t& money);
    bool DestroyProduct();
    void AddProduct(int product);
    void DelProduct();

    // Rates of the carried product; 0.0 when nothing is carried.
    float GetTimeRate() const;
    float GetImpactRate() const;
    float GetValueRate() const;
    // Index in the own player's workbench list of the workbench under the robot, or -1.
    int GetNearWorkbenchIdx() const;

    // Lidar workers: release the frame's tasks / wait until all are done.
    // Both do nothing while no worker runs.  A task reports its readings
    // first and marks the explored cells after: the frame message needs only
    // the readings, so WaitRadarTasks comes in two halves, and the cells may
    // still be marked between them.  They forward to RadarWorkers.
    static void StartRadarTasks();
    static void WaitRadarTasks();
    static void WaitRadarScans();
    // The game thread's part between the halves, while the players answer.
    static void MarkRadarCells();
    static void WaitRadarMarks();
    static void RadarThreadProc(Robot* robot);
    // Fresh lidar of this robot and the explored cells along its beams, in
    // one go on the calling thread; a lidar task does the same in its parts.
    void UpdateRadar();

    // The scans of the lidar update: the fast one first, the reference one
    // when a fast reading is not usable.  Tests may swap in their own.
    static RadarScanFn s_fastScan;
    static RadarScanFn s_referenceScan;

    int32_t m_iPlayer = 0;
    int32_t m_iId = 0;
    b2Body* m_pBody = nullptr;
    b2Body* m_normalBody = nullptr;
    b2Body* m_carryBody = nullptr;
    float m_fTargetSpeed = 0.0f;
    float m_fTargetRotate = 0.0f;
    int32_t m_iProduct = 0;
    int32_t m_iBuyFrame = -1;
    float m_fImpact = 0.0f;
    float m_fMaxForce = 0.0f;
    float m_fMaxTorque = 0.0f;
    float m_fMaxSpeed = 0.0f;
    float m_fMinSpeed = 0.0f;
    float m_fMaxRotate = 0.0f;
    std::vector<float> m_radar;
    std::unique_ptr<std::thread> m_pThread;
    std::atomic<bool> m_bStop{false};

    // Pending and finished lidar tasks of the frame, bit k for robot id k
    // (see RadarWorkers.h).
    static std::atomic<uint32_t> m_taskBits;
    static std::atomic<uint32_t> m_doneBits;
    // Guards the list of running workers.
    static std::mutex m_taskMutex;

private:
    void StartWorker();
    void StopWorker();
    WorkbenchList& OwnWorkbenches() const;
    void CollectRadarObstacles(std::vector<RadarObstacle>& obstacles) const;

    // The robot's part in a lidar task (RadarWorkers).
    friend class RadarWorkers;
    // The game thread's part of the marking, once per frame after the
    // release: how far each cell of both players' grids is from the cells
    // still to be marked (ExploredCells::ComputeClearance); and its end,
    // once the cells are marked.
    static void ComputeCellClearance();
    static void DropCellClearance();
    // Records the scan inputs of this frame; true when they call for a new
    // scan (m_bScanDue).
    bool RecordScanInputs();
    // The scan of the recorded inputs when one is due, and the robot's
    // lidar line; the cells are left due (m_bMarkDue) for MarkDueCells.
    void ScanRecordedInputs();
    // The scan of the recorded inputs into m_radar: the fast scan, and the
    // reference scan when a fast reading is not usable, whose bad readings
    // are replaced; the cells along the beams are left due for MarkDueCells.
    void ScanLidar();
    // Marks the cells along the beams of m_radar when they are due; with
    // skipClearBeams, beams that cannot reach a cell still to be marked are
    // left out (see ExploredCells::MarkBeams).
    void MarkDueCells(bool skipClearBeams);
    // True when the scan inputs equal those of the last clean scan and
    // m_radar still holds its result: the scan and the marking would repeat
    // themselves (cells once seen stay seen).  Records the inputs otherwise.
    bool RadarInputsUnchanged(const Map& map, b2Vec2 pos, float angle, const std::vector<RadarObstacle>& obstacles);

    // The last clean scan (no reading replaced): its inputs as bit patterns
    // (recorded at the release) and its result (kept by the robot's task).
    static constexpr int RADAR_KEY_SIZE = 3 + 3 * 8;
    uint32_t m_radarKey[RADAR_KEY_SIZE] = {};
    int m_iRadarKeyLen = -1;
    const void* m_radarKeySources[4] = {};
    std::vector<float> m_lastRadar;

    // This frame's scan inputs and what is left to do with them.
    b2Vec2 m_scanPos{0.0f, 0.0f};
    float m_scanAngle = 0.0f;
    std::vector<RadarObstacle> m_scanObstacles;
    bool m_bScanDue = false;
    bool m_bMarkDue = false;
};

#include "Robot.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "Game.h"
#include "Log.h"
#include "Map.h"
#include "Platform.h"
#include "Player.h"
#include "RadarWorkers.h"
#include "Shortcuts.h"
#include "Workbench.h"

namespace {

constexpr float STEP_TIME = 0.02f;  // the drive step's time step, the same as the physics step
constexpr float RADAR_SAMPLE_STEP = 0.2f;
constexpr float RADAR_MAX_LEN = 100.0f;

const float s_maxForwardSpeed[2] = {6.0f, 7.0f};

std::vector<float> FastScan(const Map& map, b2Vec2 pos, float heading, const std::vector<RadarObstacle>& obstacles) {
    return map.ScanRadar(pos, heading, obstacles);
}

std::vector<float> ReferenceScan(const Map& map, b2Vec2 pos, float heading,
                                 const std::vector<RadarObstacle>& obstacles) {
    return map.ScanRadarReference(pos, heading, obstacles);
}

float ClampToLimit(float value, float limit) { return value > limit ? limit : std::max(-limit, value); }

bool IsBadReading(float len) { return !std::isfinite(len) || len > RADAR_MAX_LEN; }

int FirstBadReading(const std::vector<float>& radar) {
    for (size_t i = 0; i < radar.size(); ++i) {
        if (IsBadReading(radar[i])) return static_cast<int>(i);
    }
    return -1;
}

// Samples of a beam placed before their cells are looked at, so that the
// placing runs without a branch per sample.
constexpr int SAMPLE_CHUNK = 512;
constexpr int CELL_ROW_SHIFT = 7;  // a sample's cell as row << 7 | column, -1 outside the grid
static_assert(SEEN_GRID_SIZE <= (1 << CELL_ROW_SHIFT), "a column fits below the row");

// Per cell (row << CELL_ROW_SHIFT | column, plus one; 0 for a sample outside
// the grid), whether a sample there may mark it: at least every cell that
// is inside the map's rows, not a wall and not seen yet.
using MarkableCells = uint8_t[1 + (SEEN_GRID_SIZE << CELL_ROW_SHIFT)];

// Every cell of the grid: what the marking of a single robot starts from.
struct AllCells {
    MarkableCells cells = {};
    constexpr AllCells() {
        for (int row = 0; row < SEEN_GRID_SIZE; ++row) {
            for (int col = 0; col < SEEN_GRID_SIZE; ++col) cells[1 + (row << CELL_ROW_SHIFT) + col] = 1;
        }
    }
};
constexpr AllCells ALL_CELLS;

// Marks one cell of the grid; true when the cell had not been seen before.
bool MarkSampleCell(Player& player, const std::vector<std::vector<char>>& rows, int row, int col) {
    if (row >= static_cast<int>(rows.size()) || col >= static_cast<int>(rows[row].size())) return false;
    if (rows[row][col] == '#') return false;
    return player.MarkSeen(row, col);
}

// Four beams' sample points, one beam per lane.
constexpr int SAMPLE_LANES = 4;
using FloatLanes = float __attribute__((vector_size(4 * SAMPLE_LANES)));
using IntLanes = int32_t __attribute__((vector_size(4 * SAMPLE_LANES)));

// Walks the beams from (x, y) by their steps while the distance stays below
// each beam's length, marking the cells of the sample points.  The points
// are running sums, as they have always been placed; a point is given as
// twice its column and row coordinates, and the cut toward zero puts points
// just outside the left or top edge into column or row 0.  The points are
// placed a chunk at a time before their cells are looked at, so that the
// placing runs without a branch per point.
void MarkBeamSamples(Player& player, const std::vector<std::vector<char>>& rows, const MarkableCells& markable,
                     FloatLanes x, FloatLanes y, FloatLanes stepX, FloatLanes stepY, FloatLanes len) {
    Game* game = Game::GetInstance();
    const float grid = static_cast<float>(SEEN_GRID_SIZE);
    IntLanes cells[SAMPLE_CHUNK];
    float d = 0.0f;
    for (;;) {
        int count = 0;
        for (; count < SAMPLE_CHUNK; ++count, d = d + RADAR_SAMPLE_STEP) {
            const IntLanes active = len > d;
            if (!(active[0] | active[1] | active[2] | active[3])) break;
            const FloatLanes colPos = x + x;
            const FloatLanes rowPos = (50.0f - y) + (50.0f - y);
            x = x + stepX;
            y = y + stepY;
            const IntLanes inside = active & (colPos > -1.0f) & (colPos < grid) & (rowPos > -1.0f) & (rowPos < grid);
            const IntLanes col = __builtin_convertvector(inside ? colPos : 0.0f, IntLanes);
            const IntLanes row = __builtin_convertvector(inside ? rowPos : 0.0f, IntLanes);
            cells[count] = inside ? (row << CELL_ROW_SHIFT) | col : -1;
        }
        // Most cells were seen before this frame: only the others are looked
        // up further.
        for (int k = 0; k < count; ++k) {
            for (int lane = 0; lane < SAMPLE_LANES; ++lane) {
                const int32_t cell = cells[k][lane];
                if (markable[cell + 1] == 0) continue;
                const int row = cell >> CELL_ROW_SHIFT;
                const int col = cell & ((1 << CELL_ROW_SHIFT) - 1);
                if (player.IsSeen(row, col)) continue;
                if (MarkSampleCell(player, rows, row, col) && !game->IsShadowChanged()) game->MarkShadowChanged();
            }
        }
        if (count < SAMPLE_CHUNK) return;
    }
}

// ---------------------------------------------------------------- beams that can find new cells

// Most beams only cross cells seen long ago.  Such a beam is found without
// walking its samples: from each cell of the grid, the distance (in cells,
// along rows or columns, whichever is more) to the nearest cell still to be
// marked tells how far along the beam no sample can mark anything new.
//
// The beam is followed in double precision from its start, in steps of
// samples: at a point whose cell is d cells clear, a sample up to s samples
// further lies within 0.4 s cells of the point (0.2 m per sample), and its
// own cell within 0.4 s + 3 cells of the point's cell: one for the cut of a
// position into a cell, one for the drift of the running sums and of the
// direction (well below a cell within the limits below), one for the
// cut toward zero at the left and top edges.  So the next point is taken
// (d - BEAM_CELL_SLACK) / 0.4 samples further.  A point within
// BEAM_NEAR_CELLS of a cell to mark means the beam is walked sample by
// sample; past the last sample, the beam marks nothing new.
constexpr double BEAM_CELL_SLACK = 3.5;
constexpr int BEAM_NEAR_CELLS = 4;
static_assert(BEAM_NEAR_CELLS + 1 > BEAM_CELL_SLACK, "every step goes forward");
constexpr double CELLS_PER_SAMPLE = 2.0 * RADAR_SAMPLE_STEP;
constexpr float CHECKED_COORD_LIMIT = 1000.0f;
constexpr float CHECKED_LEN_LIMIT = 200.0f;
constexpr int CLEARANCE_CAP = 255;

using Clearance = uint8_t[SEEN_GRID_SIZE][SEEN_GRID_SIZE];

// Per player, each cell's distance to the nearest cell still to be marked,
// and what it was worked out from (the map, its load and the number of
// cells seen, which only ever grows).  Written by the game thread after the
// release; read by the workers once s_clearanceReady is set.
Clearance s_clearance[PLAYER_NUMS];
MarkableCells s_markable[PLAYER_NUMS];
struct ClearanceSource {
    const void* map = nullptr;
    uint32_t loadSerial = 0;
    int seenCount = -1;
};
ClearanceSource s_clearanceSource[PLAYER_NUMS];
std::atomic<bool> s_clearanceReady{false};

int SeenCount(const Player& player) {
    int count = 0;
    for (int row = 0; row < SEEN_GRID_SIZE; ++row) {
        for (int word = 0; word < 2; ++word) count += __builtin_popcountll(player.SeenBits(row, word));
    }
    return count;
}

bool IsCellToMark(const Player& player, const std::vector<std::vector<char>>& rows, int row, int col) {
    const size_t r = static_cast<size_t>(row);
    const size_t c = static_cast<size_t>(col);
    if (r >= rows.size() || c >= rows[r].size() || rows[r][c] == '#') return false;
    return ((player.SeenBits(row, col / 64) >> (col % 64)) & 1) == 0;
}

uint8_t NearerOf(uint8_t current, uint8_t neighbour) {
    return neighbour < current - 1 ? static_cast<uint8_t>(neighbour + 1) : current;
}

// The distance along rows or columns, in two sweeps over the grid.
void TakeClearance(const Player& player, const std::vector<std::vector<char>>& rows, Clearance& clearance,
                   MarkableCells& markable) {
    for (int row = 0; row < SEEN_GRID_SIZE; ++row) {
        for (int col = 0; col < SEEN_GRID_SIZE; ++col) {
            const bool toMark = IsCellToMark(player, rows, row, col);
            clearance[row][col] = toMark ? 0 : CLEARANCE_CAP;
            markable[1 + (row << CELL_ROW_SHIFT) + col] = toMark ? 1 : 0;
        }
    }
    constexpr int LAST = SEEN_GRID_SIZE - 1;
    for (int row = 0; row < SEEN_GRID_SIZE; ++row) {
        for (int col = 0; col < SEEN_GRID_SIZE; ++col) {
            uint8_t& d = clearance[row][col];
            if (col > 0) d = NearerOf(d, clearance[row][col - 1]);
            if (row == 0) continue;
            d = NearerOf(d, clearance[row - 1][col]);
            if (col > 0) d = NearerOf(d, clearance[row - 1][col - 1]);
            if (col < LAST) d = NearerOf(d, clearance[row - 1][col + 1]);
        }
    }
    for (int row = LAST; row >= 0; --row) {
        for (int col = LAST; col >= 0; --col) {
            uint8_t& d = clearance[row][col];
            if (col < LAST) d = NearerOf(d, clearance[row][col + 1]);
            if (row == LAST) continue;
            d = NearerOf(d, clearance[row + 1][col]);
            if (col < LAST) d = NearerOf(d, clearance[row + 1][col + 1]);
            if (col > 0) d = NearerOf(d, clearance[row + 1][col - 1]);
        }
    }
}

// A grid coordinate, cut down and clamped into the grid; NaN gives 0.
int GridCell(double coord) {
    constexpr double SHIFT = 8.0;  // cutting toward zero is cutting down above 0
    const double shifted = coord + SHIFT;
    if (!(shifted >= SHIFT)) return 0;
    if (shifted >= SHIFT + SEEN_GRID_SIZE - 1) return SEEN_GRID_SIZE - 1;
    return static_cast<int>(shifted) - static_cast<int>(SHIFT);
}

// Whether the beam from (x, y) along (dirX, dirY) (a unit vector), len
// long, may mark a cell not seen yet.
bool BeamMayMarkNewCell(const Clearance& clearance, float x, float y, double dirX, double dirY, float len) {
    if (!(len > 0.0f)) return false;  // not even the first sample
    if (!(len <= CHECKED_LEN_LIMIT)) return true;
    // Grid coordinates: columns from x, rows down from the top edge.
    const double col = 2.0 * static_cast<double>(x);
    const double row = 2.0 * (50.0 - static_cast<double>(y));
    const double colStep = CELLS_PER_SAMPLE * dirX;
    const double rowStep = -CELLS_PER_SAMPLE * dirY;
    // Past the last sample: the running sum of the distance may lag a little.
    const double end = (static_cast<double>(len) + 0.02) / static_cast<double>(RADAR_SAMPLE_STEP);
    for (double k = 0.0;;) {
        const int clear = clearance[GridCell(row + k * rowStep)][GridCell(col + k * colStep)];
        if (clear <= BEAM_NEAR_CELLS) return true;
        k += (clear - BEAM_CELL_SLACK) / CELLS_PER_SAMPLE;
        if (k > end) return false;
    }
}

// The beams' directions are followed in double precision only while the
// single-precision angles stay close to them.
bool CanSkipBeams(b2Vec2 pos, float angle) {
    return std::fabs(pos.x) <= CHECKED_COORD_LIMIT && std::fabs(pos.y) <= CHECKED_COORD_LIMIT &&
           std::fabs(angle) <= CHECKED_COORD_LIMIT;
}

}  // namespace

std::atomic<uint32_t> Robot::m_taskBits{0};
std::atomic<uint32_t> Robot::m_doneBits{0};
std::mutex Robot::m_taskMutex;

Robot::RadarScanFn Robot::s_fastScan = FastScan;
Robot::RadarScanFn Robot::s_referenceScan = ReferenceScan;

float NormalizeAngle(float angle) {
    const float twoPi = 6.2831855f;
    // The first reduction leaves a few units in the last place of the angle
    // beyond ±π; past this the steps of 2π below would take hundreds of
    // rounds, and from 2^26 on not one of them would move r.  Only angles
    // beyond 2.6e10 leave that much, so every other keeps the plain steps'
    // result to the bit.
    constexpr float STEPPED_REMAINDER_LIMIT = 1024.0f;
    float r = angle - roundf(angle / twoPi) * twoPi;
    if (fabsf(r) > STEPPED_REMAINDER_LIMIT) r = fmodf(r, twoPi);
    while (r > 3.1415927f) r = r + (-twoPi);
    while (-3.1415927f > r) r = r + twoPi;
    return r;
}

// ---------------------------------------------------------------- bodies and motion

Robot::~Robot() {
    if (m_pThread) StopWorker();
    m_radar.clear();
    m_radar.shrink_to_fit();
}

bool Robot::Init(int player, int id, b2Vec2 pos) {
    if (player < 0 || player > 1 || id < 0 || id >= PLAYER_ROBOT_NUMS || m_normalBody) {
        LOG_ERR("Invalid robot init, player:%d id:%d\n", player, id);
        return false;
    }
    m_iPlayer = player;
    m_iId = id;
    const float k = player == 0 ? 1.0f : 0.75f;

    b2BodyDef bodyDef;
    bodyDef.type = b2_dynamicBody;
    bodyDef.position = pos;
    bodyDef.angle = 0.0f;
    bodyDef.linearVelocity.SetZero();
    bodyDef.angularVelocity = 0.0f;
    bodyDef.linearDamping = 0.1f;
    bodyDef.angularDamping = 0.1f;
    bodyDef.allowSleep = true;
    bodyDef.awake = true;
    bodyDef.fixedRotation = false;
    bodyDef.bullet = true;
    bodyDef.enabled = true;
    bodyDef.gravityScale = 1.0f;
    bodyDef.userData.pointer = reinterpret_cast<uintptr_t>(this);

    b2CircleShape shape;
    shape.m_p.SetZero();
    shape.m_radius = ROBOT_RADIUS;

    b2FixtureDef fixtureDef;
    fixtureDef.shape = &shape;
    fixtureDef.userData.pointer = ROBOT_FIXTURE_MARK;
    fixtureDef.friction = 0.01f;
    fixtureDef.restitution = 0.5f;
    fixtureDef.restitutionThreshold = 1.0f;
    fixtureDef.density = 20.0f * k;
    fixtureDef.isSensor = false;
    fixtureDef.filter = b2Filter();

    b2World& world = Game::GetInstance()->GetWorld().GetB2World();
    m_normalBody = world.CreateBody(&bodyDef);
    HARD_ASSERT(m_normalBody);
    m_normalBody->CreateFixture(&fixtureDef);
    m_pBody = m_normalBody;

    // The carry body waits disabled until the robot picks something up.
    shape.m_radius = ROBOT_CARRY_RADIUS;
    bodyDef.enabled = false;
    m_carryBody = world.CreateBody(&bodyDef);
    HARD_ASSERT(m_carryBody);
    m_carryBody->CreateFixture(&fixtureDef);

    m_fMaxForce = 250.0f * k;
    m_fMaxTorque = 50.0f * k;
    m_fMaxSpeed = s_maxForwardSpeed[player];
    m_fMinSpeed = -2.0f;
    m_fMaxRotate = 3.1415927f;

    // Worker k of the first player also serves robot k of the second player.
    if (player == 0) StartWorker();
    return true;
}

void Robot::UpdateMotion() {
    if (!m_pBody) return;  // never set up: there is nothing to drive
    const float heading = NormalizeAngle(m_pBody->GetAngle());
    ApplyDirectionalForce(m_fTargetSpeed, heading, m_fMaxForce);
    // Across the heading, without wrapping the sum again: this force removes sideways drift.
    const float across = NormalizeAngle(m_pBody->GetAngle()) + 1.5707964f;
    ApplyDirectionalForce(0.0f, across, m_fMaxForce);

    const float da = 1.0f / (m_pBody->GetAngularDamping() * STEP_TIME + 1.0f);
    const float torque = ((m_fTargetRotate / da) - m_pBody->GetAngularVelocity()) / STEP_TIME * m_pBody->GetInertia();
    m_pBody->ApplyTorque(ClampToLimit(torque, m_fMaxTorque), true);
}

void Robot::ApplyDirectionalForce(float targetSpeed, float angle, float maxForce) {
    const float c = cosf(angle);
    const float s = sinf(angle);
    // The physics step damps a velocity by d, so the target is divided by it.
    const float d = 1.0f / (m_pBody->GetLinearDamping() * STEP_TIME + 1.0f);
    const b2Vec2 velocity = m_pBody->GetLinearVelocity();
    const float along = s * velocity.y + c * velocity.x;
    const float force = ClampToLimit(((targetSpeed / d) - along) / STEP_TIME * m_pBody->GetMass(), maxForce);
    m_pBody->ApplyForceToCenter(b2Vec2(c * force, s * force), true);
}

void Robot::SwitchBody() {
    b2Body* other = m_pBody == m_normalBody ? m_carryBody : m_normalBody;
    other->SetTransform(m_pBody->GetPosition(), m_pBody->GetAngle());
    if (other->GetType() != b2_staticBody) {
        other->SetAngularVelocity(m_pBody->GetAngularVelocity());
        other->SetLinearVelocity(m_pBody->GetLinearVelocity());
    }
    other->SetEnabled(true);
    m_pBody->SetEnabled(false);
    m_pBody = other;
}

// ---------------------------------------------------------------- trading

WorkbenchList& Robot::OwnWorkbenches() const { return Game::GetInstance()->GetPlayer(m_iPlayer).GetWorkbenches(); }

bool Robot::Buy(int32_t& money) {
    if (m_iProduct != 0) {
        LOG_INFO("Robot already get product:%d\n", m_iProduct);
        return false;
    }
    Workbench* workbench = OwnWorkbenches().FindNear(m_pBody->GetPosition());
    if (!workbench) {
        LOG_INFO("Not near any workbench\n");
        return false;
    }
    int product = 0;
    const int cost = workbench->Buy(money, &product);
    if (cost < 0) return false;
    if (cost > money) {
        LOG_ASSERT_FAILED("cost <= money");
        return false;
    }
    money = money - cost;
    AddProduct(product);
    return true;
}

bool Robot::Sell(int32_t& money) {
    if (m_iProduct == 0) {
        LOG_INFO("There's no product on the robot\n");
        return false;
    }
    Workbench* workbench = OwnWorkbenches().FindNear(m_pBody->GetPosition());
    if (!workbench) {
        LOG_INFO("Not near any workbench\n");
        return false;
    }
    const int value = workbench->Sell(m_iProduct, m_iBuyFrame, m_fImpact);
    if (value < 0) return false;  // refused: the robot keeps its load
    DelProduct();
    money = money + value;
    return true;
}

bool Robot::DestroyProduct() {
    if (m_iProduct == 0) {
        LOG_INFO("There's no product on the robot\n");
        return false;
    }
    DelProduct();
    return true;
}

void Robot::AddProduct(int product) {
    if (m_iProduct != 0) return;
    m_iProduct = product;
    m_iBuyFrame = GetCurrentFrame();
    m_fImpact = 0.0f;
    if (m_pBody == m_normalBody) {
        SwitchBody();
    } else {
        LOG_ASSERT_FAILED("m_pBody == m_normalBody");
    }
}

void Robot::DelProduct() {
    m_iBuyFrame = -1;
    m_iProduct = 0;
    m_fImpact = 0.0f;
    if (m_pBody == m_carryBody) {
        SwitchBody();
    } else {
        LOG_ASSERT_FAILED("m_pBody == m_carryBody");
    }
}

float Robot::GetTimeRate() const { return m_iProduct == 0 ? 0.0f : Workbench::GetProductTimeRate(m_iBuyFrame); }

float Robot::GetImpactRate() const { return m_iProduct == 0 ? 0.0f : Workbench::GetProductImpactRate(m_fImpact); }

float Robot::GetValueRate() const {
    return m_iProduct == 0 ? 0.0f : Workbench::GetProductValueRate(m_iBuyFrame, m_fImpact);
}

int Robot::GetNearWorkbenchIdx() const {
    if (!m_pBody) return -1;
    return OwnWorkbenches().FindNearIdx(m_pBody->GetPosition());
}

// ---------------------------------------------------------------- lidar workers

void Robot::StartWorker() {
    RadarWorkers::AddWorker(this);
    if (!Platform::StartThread(m_pThread, [this] { RadarThreadProc(this); }))
        LOG_ERR("Start radar thread err:%s\n", Platform::ErrorText(Platform::LastError()).c_str());
    HARD_ASSERT(m_pThread);
}

void Robot::StopWorker() {
    m_bStop = true;
    RadarWorkers::WakeAll();
    m_pThread->join();
    m_pThread.reset();
    RadarWorkers::RemoveWorker(this);
}

void Robot::StartRadarTasks() { RadarWorkers::Release(); }

void Robot::WaitRadarTasks() {
    WaitRadarScans();
    MarkRadarCells();
    WaitRadarMarks();
}

void Robot::WaitRadarScans() { RadarWorkers::WaitScans(); }

void Robot::MarkRadarCells() { RadarWorkers::MarkOwnTasks(); }

void Robot::WaitRadarMarks() { RadarWorkers::WaitMarks(); }

void Robot::RadarThreadProc(Robot* robot) { RadarWorkers::Serve(robot); }

void Robot::ScanRecordedInputs() {
    if (!m_bScanDue) return;
    UpdateRadar(false);
    // The lidar line of the frame message is formatted here, in parallel.
    Game::GetInstance()->GetPlayer(m_iPlayer).PrepareLidarLine(m_iId);
}

void Robot::CollectRadarObstacles(std::vector<RadarObstacle>& obstacles) const {
    Game* game = Game::GetInstance();
    obstacles.clear();
    for (int player = 0; player < PLAYER_NUMS; ++player) {
        for (int id = 0; id < PLAYER_ROBOT_NUMS; ++id) {
            const Robot& other = game->GetPlayer(player).GetRobot(id);
            if (&other == this || !other.m_pBody) continue;
            const b2Vec2 pos = other.m_pBody->GetPosition();
            obstacles.push_back(RadarObstacle{pos.x, pos.y, other.m_iProduct});
        }
    }
}

bool Robot::TakeRadarInputs() {
    m_bScanDue = false;
    const Map& map = Game::GetInstance()->GetMap();
    if (!m_pBody || map.GetMapData().empty()) return false;
    m_scanPos = m_pBody->GetPosition();
    m_scanAngle = m_pBody->GetAngle();
    CollectRadarObstacles(m_scanObstacles);
    m_bScanDue = !RadarInputsUnchanged(map, m_scanPos, m_scanAngle, m_scanObstacles);
    return m_bScanDue;
}

void Robot::UpdateRadar() {
    if (TakeRadarInputs()) UpdateRadar(true);
}

void Robot::MarkDueCells(bool skipClearBeams) {
    if (!m_bMarkDue) return;
    m_bMarkDue = false;
    MarkExploredCells(m_scanPos, m_scanAngle, skipClearBeams);
}

void Robot::UpdateRadar(bool markCells) {
    m_bScanDue = false;
    const Map& map = Game::GetInstance()->GetMap();
    const b2Vec2 pos = m_scanPos;
    const float heading = NormalizeAngle(m_scanAngle);
    const std::vector<RadarObstacle>& obstacles = m_scanObstacles;

    m_radar = s_fastScan(map, pos, heading, obstacles);
    const int bad = FirstBadReading(m_radar);
    if (bad < 0) m_lastRadar = m_radar;
    if (bad >= 0) {
        // Replaced readings are logged every time: such a scan is never reused.
        m_iRadarKeyLen = -1;
        LOG_INFO("Get radar len[%d]:%f, pos:%f,%f, angle:%f player:%d id:%d\n", bad, m_radar[bad], pos.x, pos.y,
                 heading, m_iPlayer, m_iId);
        m_radar = s_referenceScan(map, pos, heading, obstacles);
        for (size_t i = 0; i < m_radar.size(); ++i) {
            if (!IsBadReading(m_radar[i])) continue;
            LOG_ERR("Get err radar len[%d]:%f, pos:%f,%f, angle:%f player:%d id:%d\n", static_cast<int>(i),
                    m_radar[i], pos.x, pos.y, heading, m_iPlayer, m_iId);
            m_radar[i] = RADAR_MAX_LEN;
        }
    }
    m_bMarkDue = true;
    if (markCells) MarkDueCells(false);
}

bool Robot::RadarInputsUnchanged(const Map& map, b2Vec2 pos, float angle,
                                 const std::vector<RadarObstacle>& obstacles) {
    if (!TAKE_SHORTCUTS) return false;
    uint32_t key[RADAR_KEY_SIZE];
    int len = 0;
    auto put = [&key, &len](float value) { memcpy(&key[len++], &value, sizeof value); };
    put(pos.x);
    put(pos.y);
    put(angle);
    for (const RadarObstacle& obstacle : obstacles) {
        if (len + 3 > RADAR_KEY_SIZE) {
            m_iRadarKeyLen = -1;
            return false;
        }
        put(obstacle.x);
        put(obstacle.y);
        key[len++] = static_cast<uint32_t>(obstacle.product);
    }
    // Only the system's own scans are known to depend on nothing else.
    if (s_fastScan != FastScan || s_referenceScan != ReferenceScan) {
        m_iRadarKeyLen = -1;
        return false;
    }
    const void* sources[4] = {&map, map.GetMapData().data(), reinterpret_cast<const void*>(s_fastScan),
                              reinterpret_cast<const void*>(static_cast<uintptr_t>(map.GetLoadSerial()))};
    const bool same = len == m_iRadarKeyLen && memcmp(key, m_radarKey, sizeof(uint32_t) * len) == 0 &&
                      memcmp(sources, m_radarKeySources, sizeof sources) == 0 && m_radar == m_lastRadar;
    if (same) return true;
    memcpy(m_radarKey, key, sizeof(uint32_t) * len);
    memcpy(m_radarKeySources, sources, sizeof sources);
    m_iRadarKeyLen = len;
    return false;
}

void Robot::TakeCellClearance() {
    if (!TAKE_SHORTCUTS) return;
    Game* game = Game::GetInstance();
    const Map& map = game->GetMap();
    for (int i = 0; i < PLAYER_NUMS; ++i) {
        const Player& player = game->GetPlayer(i);
        // Most frames find no new cell: the distances stay as they are.
        const ClearanceSource source{&map, map.GetLoadSerial(), SeenCount(player)};
        ClearanceSource& last = s_clearanceSource[i];
        if (source.map == last.map && source.loadSerial == last.loadSerial && source.seenCount == last.seenCount)
            continue;
        last = source;
        TakeClearance(player, map.GetMapData(), s_clearance[i], s_markable[i]);
    }
    s_clearanceReady.store(true, std::memory_order_release);
}

void Robot::DropCellClearance() { s_clearanceReady.store(false, std::memory_order_relaxed); }

void Robot::MarkExploredCells(b2Vec2 pos, float angle, bool skipClearBeams) const {
    Game* game = Game::GetInstance();
    Player& player = game->GetPlayer(m_iPlayer);
    const std::vector<std::vector<char>>& rows = game->GetMap().GetMapData();
    // Set right after the release, long before a scan is done, unless the
    // game thread lost its processor in between: then no beam is skipped,
    // which marks the same cells.
    skipClearBeams = TAKE_SHORTCUTS && skipClearBeams && s_clearanceReady.load(std::memory_order_acquire);
    const Clearance* clearance = skipClearBeams && CanSkipBeams(pos, angle) ? &s_clearance[m_iPlayer] : nullptr;
    const MarkableCells& markable = skipClearBeams ? s_markable[m_iPlayer] : ALL_CELLS.cells;
    const int n = static_cast<int>(m_radar.size());
    // Beam i's direction, turned on from beam to beam, for the clearance only.
    const double turn = 2.0 * M_PI / n;
    const double turnCos = cos(turn);
    const double turnSin = sin(turn);
    double dirX = cos(static_cast<double>(angle));
    double dirY = sin(static_cast<double>(angle));

    const FloatLanes x = {pos.x, pos.x, pos.x, pos.x};
    const FloatLanes y = {pos.y, pos.y, pos.y, pos.y};
    // Four beams side by side: each lane makes the same single-precision
    // operations, in the same order, as a beam walked alone; lanes left
    // over get length 0 and no sample.
    FloatLanes stepX = {};
    FloatLanes stepY = {};
    FloatLanes len = {};
    int lane = 0;
    for (int i = 0; i < n; ++i) {
        const bool skip = clearance && !BeamMayMarkNewCell(*clearance, pos.x, pos.y, dirX, dirY, m_radar[i]);
        const double nextX = dirX * turnCos - dirY * turnSin;
        dirY = dirX * turnSin + dirY * turnCos;
        dirX = nextX;
        if (skip) continue;
        // The body's own angle, not the wrapped heading, is the base here.
        const float a = NormalizeAngle(static_cast<float>(2 * i) * 3.1415927f / static_cast<float>(n) + angle);
        stepX[lane] = cosf(a) * RADAR_SAMPLE_STEP;
        stepY[lane] = sinf(a) * RADAR_SAMPLE_STEP;
        len[lane] = m_radar[i];
        if (++lane < SAMPLE_LANES) continue;
        MarkBeamSamples(player, rows, markable, x, y, stepX, stepY, len);
        len = FloatLanes{};
        lane = 0;
    }
    if (lane > 0) MarkBeamSamples(player, rows, markable, x, y, stepX, stepY, len);
}

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
constexpr float RADAR_MAX_LEN = 100.0f;
// The lidar update's log lines carry its name, on whichever thread and in
// whichever of its steps they are written.
constexpr const char* LIDAR_UPDATE_NAME = "Robot::UpdateRadar";

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
    ScanLidar();
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

bool Robot::RecordScanInputs() {
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
    if (!RecordScanInputs()) return;
    ScanLidar();
    MarkDueCells(false);
}

void Robot::MarkDueCells(bool skipClearBeams) {
    if (!m_bMarkDue) return;
    m_bMarkDue = false;
    Game* game = Game::GetInstance();
    ExploredCells& cells = game->GetPlayer(m_iPlayer).GetExploredCells();
    if (cells.MarkBeams(game->GetMap().GetMapData(), m_scanPos, m_scanAngle, m_radar, skipClearBeams) &&
        !game->IsShadowChanged())
        game->MarkShadowChanged();
}

void Robot::ScanLidar() {
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
        LOG_AT_AS(LOG_LEVEL_INFO, LIDAR_UPDATE_NAME, "Get radar len[%d]:%f, pos:%f,%f, angle:%f player:%d id:%d\n", bad,
                  m_radar[bad], pos.x, pos.y, heading, m_iPlayer, m_iId);
        m_radar = s_referenceScan(map, pos, heading, obstacles);
        for (size_t i = 0; i < m_radar.size(); ++i) {
            if (!IsBadReading(m_radar[i])) continue;
            LOG_AT_AS(LOG_LEVEL_ERR, LIDAR_UPDATE_NAME, "Get err radar len[%d]:%f, pos:%f,%f, angle:%f player:%d id:%d\n",
                      static_cast<int>(i), m_radar[i], pos.x, pos.y, heading, m_iPlayer, m_iId);
            m_radar[i] = RADAR_MAX_LEN;
        }
    }
    m_bMarkDue = true;
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

void Robot::ComputeCellClearance() {
    Game* game = Game::GetInstance();
    for (int i = 0; i < PLAYER_NUMS; ++i) game->GetPlayer(i).GetExploredCells().ComputeClearance(game->GetMap());
}

void Robot::DropCellClearance() {
    for (int i = 0; i < PLAYER_NUMS; ++i) Game::GetInstance()->GetPlayer(i).GetExploredCells().DropClearance();
}

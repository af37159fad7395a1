// A player that trades: its four robots buy finished products at its own
// workbenches and sell them to its own workbenches that take them as
// materials, chosen by the money a trip earns per frame.
//
// The program is never told the map.  It learns the obstacles from the
// lidar: a beam that ends on a cell boundary has hit an obstacle cell (a
// beam that ends elsewhere has hit a robot), and beams that pass through a
// cell wear down what it knows of an obstacle there, so that cells wrongly
// taken for obstacles are freed again.  Paths come from distance fields over
// that grid, one per workbench, which keep clear of walls; the robots follow
// them by line of sight and dodge what the lidar shows in their way.
//
// Everything is deterministic: the same frame messages give the same
// answers.  Set TRADER_DEBUG in the environment for a trace on stderr.
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "PlayerIO.h"

namespace {

constexpr int GRID = 100;           // cells per side
constexpr double CELL = 0.5;        // metres per cell
constexpr int MAX_FRAME = 12000;
constexpr int ROBOTS = 4;
constexpr double PI_D = 3.14159265358979323846;

const int BUY_PRICE[8] = {0, 3000, 4400, 5800, 15400, 17200, 19200, 76000};
const int SELL_PRICE[8] = {0, 6000, 7600, 9200, 22500, 25000, 27500, 105000};

// Bit p set for every product p the workbench type takes as material.
int NeedMask(int type) {
    switch (type) {
    case 4: return (1 << 1) | (1 << 2);
    case 5: return (1 << 1) | (1 << 3);
    case 6: return (1 << 2) | (1 << 3);
    case 7: return (1 << 4) | (1 << 5) | (1 << 6);
    case 8: return 1 << 7;
    case 9: return 0xFE;
    default: return 0;
    }
}

// The product a workbench type makes, 0 for none.
int MadeProduct(int type) { return type >= 1 && type <= 7 ? type : 0; }

// Sinks take every material again at the next frame, so they need no slot.
bool IsSink(int type) { return type == 8 || type == 9; }

// The time factor of a product carried for the frames (the referee's curve).
double TimeRate(double frames) {
    double x = std::min(frames, 9000.0) / 9000.0;
    double u = 1.0 - x;
    return (1.0 - std::sqrt(1.0 - u * u)) * 0.2 + 0.8;
}

double WrapAngle(double a) { return std::remainder(a, 2 * PI_D); }

bool g_debug = false;
int g_dumpFrame = -1;

#define TRACE(...)                                  \
    do {                                            \
        if (g_debug) fprintf(stderr, __VA_ARGS__);  \
    } while (0)

// ---------------------------------------------------------------------------
// What is known of the obstacles, cell by cell (x to the right, y upward).

class ObstacleGrid {
public:
    static bool Inside(int ix, int iy) { return ix >= 0 && ix < GRID && iy >= 0 && iy < GRID; }
    // The cell of a coordinate; far outside the grid for anything absurd.
    static int CellOf(double v) {
        double c = std::floor(v / CELL);
        return c > -1000.0 && c < 1000.0 ? static_cast<int>(c) : -1000;
    }

    bool IsObstacle(int ix, int iy) const { return !Inside(ix, iy) || m_conf[iy][ix] >= OBSTACLE_CONF; }
    // The cells whose obstacle state changed since the last ClearChanges.
    const std::vector<int>& Changes() const { return m_changed; }
    void ClearChanges() { m_changed.clear(); }

    void Hit(int ix, int iy) {
        if (!Inside(ix, iy)) return;
        uint8_t& c = m_conf[iy][ix];
        bool was = c >= OBSTACLE_CONF;
        c = static_cast<uint8_t>(std::min(MAX_CONF, c + HIT_GAIN));
        if (!was) m_changed.push_back(iy * GRID + ix);
    }

    void Pass(int ix, int iy) {
        if (!Inside(ix, iy)) return;
        uint8_t& c = m_conf[iy][ix];
        if (c == 0) return;
        bool was = c >= OBSTACLE_CONF;
        --c;
        if (was && c < OBSTACLE_CONF) m_changed.push_back(iy * GRID + ix);
    }

    // Distance from the point to the nearest obstacle cell within two cells
    // (or 1.0 when there is none that near).
    double Clearance(double x, double y) const {
        int cx = CellOf(x), cy = CellOf(y);
        double best = 1.0;
        for (int iy = cy - 2; iy <= cy + 2; ++iy)
            for (int ix = cx - 2; ix <= cx + 2; ++ix) {
                if (!IsObstacle(ix, iy)) continue;
                double dx = std::max({ix * CELL - x, 0.0, x - (ix + 1) * CELL});
                double dy = std::max({iy * CELL - y, 0.0, y - (iy + 1) * CELL});
                best = std::min(best, std::sqrt(dx * dx + dy * dy));
            }
        return best;
    }

private:
    static constexpr int OBSTACLE_CONF = 3;
    static constexpr int HIT_GAIN = 3;
    static constexpr int MAX_CONF = 15;
    uint8_t m_conf[GRID][GRID] = {};
    std::vector<int> m_changed;
};

// ---------------------------------------------------------------------------
// Path costs to one cell over the whole grid (Dial's algorithm on 8
// neighbours).  Cells next to obstacles cost more, so that paths keep to the
// middle of passages; one cell of 0.5 m straight is 10.  The grid is kept
// with a border of obstacle cells, so that neighbours need no bounds test.

constexpr int32_t UNREACHED = INT32_MAX;
constexpr int PADDED = GRID + 2;

inline int PaddedIndex(int ix, int iy) { return (iy + 1) * PADDED + ix + 1; }

class CostMap {
public:
    CostMap() {
        for (int k = 0; k < PADDED * PADDED; ++k) m_class[k] = 3;
        Rebuild(ObstacleGrid());
        for (int k = 0; k < PADDED * PADDED; ++k) m_moves[k] = 0;
        for (int iy = 0; iy < GRID; ++iy)
            for (int ix = 0; ix < GRID; ++ix) PrepareMoves(PaddedIndex(ix, iy));
    }

    // Neighbour offsets in the padded grid: four straight, four diagonal.
    static constexpr int OFFSET[8] = {1, -1, PADDED, -PADDED, PADDED + 1, PADDED - 1, -PADDED + 1, -PADDED - 1};

    // Brings the classes up to date around the cells that changed; all of
    // them at once when many changed.
    void Update(const ObstacleGrid& grid, const std::vector<int>& changed) {
        if (changed.empty()) return;
        ++m_version;
        if (changed.size() > 64) {
            Rebuild(grid);
            for (int iy = 0; iy < GRID; ++iy)
                for (int ix = 0; ix < GRID; ++ix) PrepareMoves(PaddedIndex(ix, iy));
            return;
        }
        for (int c : changed) {
            int cx = c % GRID, cy = c / GRID;
            for (int iy = std::max(0, cy - 2); iy <= std::min(GRID - 1, cy + 2); ++iy)
                for (int ix = std::max(0, cx - 2); ix <= std::min(GRID - 1, cx + 2); ++ix)
                    m_class[PaddedIndex(ix, iy)] = ClassFromScratch(grid, ix, iy);
        }
        // A cell's moves depend on its neighbours' classes.
        for (int c : changed) {
            int cx = c % GRID, cy = c / GRID;
            for (int iy = std::max(0, cy - 3); iy <= std::min(GRID - 1, cy + 3); ++iy)
                for (int ix = std::max(0, cx - 3); ix <= std::min(GRID - 1, cx + 3); ++ix)
                    PrepareMoves(PaddedIndex(ix, iy));
        }
    }

    uint32_t Version() const { return m_version; }
    const uint8_t* Classes() const { return m_class; }
    // Per cell: bit n set when the step by OFFSET[n] is allowed (into no
    // obstacle, and a diagonal step not between two obstacle cells).
    const uint8_t* Moves() const { return m_moves; }
    // Per cell: the cost of entering it by a straight and a diagonal step.
    const uint8_t* StraightCost() const { return m_straight; }
    const uint8_t* DiagonalCost() const { return m_diagonal; }

private:
    // 0 open, 1 an obstacle within two cells, 2 an obstacle next to it,
    // 3 an obstacle itself.
    static uint8_t ClassFromScratch(const ObstacleGrid& grid, int ix, int iy) {
        if (grid.IsObstacle(ix, iy)) return 3;
        uint8_t cls = 0;
        for (int dy = -2; dy <= 2; ++dy)
            for (int dx = -2; dx <= 2; ++dx) {
                if (!grid.IsObstacle(ix + dx, iy + dy)) continue;
                if (std::abs(dx) <= 1 && std::abs(dy) <= 1) return 2;
                cls = 1;
            }
        return cls;
    }

    // The same classes for the whole grid, by growing the obstacles one and
    // two cells (square neighbourhoods, one axis after the other).
    void Rebuild(const ObstacleGrid& grid) {
        static uint8_t obst[GRID + 4][GRID + 4], rows[GRID + 4][GRID + 4];
        for (int y = 0; y < GRID + 4; ++y)
            for (int x = 0; x < GRID + 4; ++x) obst[y][x] = grid.IsObstacle(x - 2, y - 2) ? 1 : 0;
        for (int reach = 2; reach >= 1; --reach) {
            uint8_t cls = reach == 2 ? 1 : 2;
            for (int y = 0; y < GRID + 4; ++y)
                for (int x = 2; x < GRID + 2; ++x) {
                    uint8_t any = 0;
                    for (int d = -reach; d <= reach; ++d) any |= obst[y][x + d];
                    rows[y][x] = any;
                }
            for (int y = 2; y < GRID + 2; ++y)
                for (int x = 2; x < GRID + 2; ++x) {
                    uint8_t any = 0;
                    for (int d = -reach; d <= reach; ++d) any |= rows[y + d][x];
                    uint8_t& out = m_class[PaddedIndex(x - 2, y - 2)];
                    if (reach == 2) out = any ? cls : 0;
                    else if (any) out = cls;
                }
        }
        for (int y = 0; y < GRID; ++y)
            for (int x = 0; x < GRID; ++x)
                if (obst[y + 2][x + 2]) m_class[PaddedIndex(x, y)] = 3;
    }

    void PrepareMoves(int c) {
        static const uint8_t STRAIGHT[4] = {10, 15, 60, 0};
        static const uint8_t DIAGONAL[4] = {14, 21, 84, 0};
        static const int SIDE_X[8] = {0, 0, 0, 0, 1, -1, 1, -1};
        m_straight[c] = STRAIGHT[m_class[c]];
        m_diagonal[c] = DIAGONAL[m_class[c]];
        uint8_t m = 0;
        if (m_class[c] < 3) {
            for (int n = 0; n < 8; ++n) {
                int next = c + OFFSET[n];
                if (m_class[next] >= 3) continue;
                if (n >= 4 && (m_class[c + SIDE_X[n]] >= 3 || m_class[next - SIDE_X[n]] >= 3)) continue;
                m |= static_cast<uint8_t>(1 << n);
            }
        }
        m_moves[c] = m;
    }

    uint8_t m_class[PADDED * PADDED];
    uint8_t m_moves[PADDED * PADDED];
    uint8_t m_straight[PADDED * PADDED];
    uint8_t m_diagonal[PADDED * PADDED];
    uint32_t m_version = 1;
};

class DistanceField {
public:
    bool Valid() const { return !m_dist.empty(); }
    uint32_t Version() const { return m_version; }
    int ComputedAt() const { return m_frame; }
    int32_t At(int ix, int iy) const {
        return ObstacleGrid::Inside(ix, iy) && Valid() ? m_dist[PaddedIndex(ix, iy)] : UNREACHED;
    }

    void Compute(const CostMap& costs, int srcX, int srcY, int frame) {
        m_dist.assign(PADDED * PADDED, UNREACHED);
        m_version = costs.Version();
        m_frame = frame;
        if (!ObstacleGrid::Inside(srcX, srcY)) return;
        static Ring ring;
        ring.Clear();
        const uint8_t* moves = costs.Moves();
        const uint8_t* straight = costs.StraightCost();
        const uint8_t* diagonal = costs.DiagonalCost();
        int32_t* dist = m_dist.data();
        int src = PaddedIndex(srcX, srcY);
        dist[src] = 0;
        ring.Push(0, src);
        for (int32_t cur = 0; ring.Pending() > 0; ++cur) {
            Ring::Bucket& bucket = ring.At(cur);
            for (int k = 0; k < bucket.count; ++k) {
                int c = bucket.cells[k];
                if (dist[c] != cur) continue;
                unsigned m = moves[c];
                while (m) {
                    int n = __builtin_ctz(m);
                    m &= m - 1;
                    int next = c + CostMap::OFFSET[n];
                    int32_t nd = cur + (n < 4 ? straight[next] : diagonal[next]);
                    if (nd >= dist[next]) continue;
                    dist[next] = nd;
                    ring.Push(nd, next);
                }
            }
            ring.Done(cur);
        }
    }

private:
    // Dial's buckets: every cost of one step is below the ring's size, so
    // the cells waiting for cost c sit in bucket c modulo the size.
    class Ring {
    public:
        struct Bucket {
            int count = 0;
            std::vector<int> cells;
        };
        void Clear() {
            for (Bucket& b : m_buckets) b.count = 0;
            m_pending = 0;
        }
        void Push(int32_t cost, int cell) {
            Bucket& b = m_buckets[cost & (SIZE - 1)];
            if (b.count == static_cast<int>(b.cells.size())) b.cells.resize(b.cells.size() * 2 + 64);
            b.cells[b.count++] = cell;
            ++m_pending;
        }
        Bucket& At(int32_t cost) { return m_buckets[cost & (SIZE - 1)]; }
        void Done(int32_t cost) {
            Bucket& b = At(cost);
            m_pending -= b.count;
            b.count = 0;
        }
        int Pending() const { return m_pending; }

    private:
        static constexpr int SIZE = 128;
        Bucket m_buckets[SIZE];
        int m_pending = 0;
    };

    std::vector<int32_t> m_dist;
    uint32_t m_version = 0;
    int m_frame = 0;
};

// ---------------------------------------------------------------------------

struct Vec {
    double x = 0, y = 0;
};
double Dist(Vec a, Vec b) { return std::hypot(a.x - b.x, a.y - b.y); }

enum class TaskKind { NONE, BUY, SELL };

struct Task {
    TaskKind kind = TaskKind::NONE;
    int buyAt = -1;   // workbench to buy at (BUY)
    int sellAt = -1;  // workbench to sell to (BUY and SELL)
    int product = 0;
};

struct RobotMind {
    Task task;
    int sentSellFrame = -1;   // frame of the last "sell", to notice a refusal
    int sentSellAt = -1;
    int carryIdleFrames = 0;  // frames spent carrying without any buyer
    // Progress watch.
    int watchFrame = 0;
    double watchDist = 1e9;
    int stuckCount = 0;
    int recoverUntil = -1;
    int recoveries = 0;
    int recoverSign = 1;
};

// One robot's motion command.
struct Motion {
    double speed = 0;
    double turn = 0;
};

class Trader {
public:
    explicit Trader(int side) : m_maxSpeed(side == 0 ? 6.0 : 7.0) {
        for (int a = 0; a < 360; ++a) {
            m_cos[a] = std::cos(a * PI_D / 180.0);
            m_sin[a] = std::sin(a * PI_D / 180.0);
        }
    }

    void DumpGrid() const {
        for (int iy = GRID - 1; iy >= 0; --iy) {
            for (int ix = 0; ix < GRID; ++ix) {
                char c = "0123"[m_costs.Classes()[PaddedIndex(ix, iy)]];
                for (int r = 0; r < ROBOTS; ++r)
                    if (ObstacleGrid::CellOf(Bot(r).x) == ix && ObstacleGrid::CellOf(Bot(r).y) == iy) c = 'R';
                fputc(c, stderr);
            }
            fputc('\n', stderr);
        }
    }

    void TraceTotals() const { TRACE("robot frames idle %d, waiting %d\n", m_idleFrames, m_waitFrames); }

    void Play(playerio::FrameMessage& msg, playerio::Answer& answer) {
        Sanitize(msg);
        m_msg = &msg;
        m_frame = msg.frame;
        if (m_fields.size() != msg.workbenches.size()) {
            // A new set of workbenches (never so in a match): start over.
            m_fields.assign(msg.workbenches.size(), DistanceField());
            m_blockedUntil.assign(msg.workbenches.size(), 0);
            for (int r = 0; r < ROBOTS; ++r) DropTask(r);
        }
        answer.Begin(msg.frame);
        m_have.resize(msg.workbenches.size());
        for (size_t w = 0; w < msg.workbenches.size(); ++w) m_have[w] = msg.workbenches[w].haveMask;
        for (int r = 0; r < ROBOTS; ++r) {
            PrepareBeams(r);
            LearnFromLidar(r);
        }
        UpdateFields();
        ForgetBlocked();
        for (int r = 0; r < ROBOTS; ++r) FollowUp(r);
        AssignTasks();
        for (int r = 0; r < ROBOTS; ++r) Trade(r, answer);
        if (g_dumpFrame == m_frame) DumpGrid();
        PlanWaypoints();
        for (int r = 0; r < ROBOTS; ++r) {
            Motion m = Drive(r);
            answer.Command("forward", r, m.speed);
            answer.Command("rotate", r, m.turn);
        }
    }

private:
    // Values outside what the referee sends are made harmless: unknown
    // products and workbench indexes become none, positions off the arena
    // move onto it.
    static void Sanitize(playerio::FrameMessage& msg) {
        int n = static_cast<int>(msg.workbenches.size());
        for (playerio::WorkbenchLine& w : msg.workbenches) {
            if (w.type < 1 || w.type > 9) w.type = 0;
            w.x = ClampCoord(w.x);
            w.y = ClampCoord(w.y);
        }
        for (playerio::RobotLine& r : msg.robots) {
            if (r.product < 0 || r.product > 7) r.product = 0;
            if (r.nearIdx < -1 || r.nearIdx >= n) r.nearIdx = -1;
            r.x = ClampCoord(r.x);
            r.y = ClampCoord(r.y);
            if (!std::isfinite(r.heading)) r.heading = 0;
            if (!std::isfinite(r.omega)) r.omega = 0;
        }
        for (std::vector<float>& lidar : msg.lidar)
            for (float& d : lidar)
                if (!(d >= 0.0f && d <= 100.0f)) d = 100.0f;
    }
    static float ClampCoord(float v) { return v >= 0.0f && v <= 50.0f ? v : (v > 50.0f ? 50.0f : 0.0f); }

    const playerio::RobotLine& Bot(int r) const { return m_msg->robots[r]; }
    const playerio::WorkbenchLine& Bench(int w) const { return m_msg->workbenches[w]; }
    int Benches() const { return static_cast<int>(m_msg->workbenches.size()); }
    Vec BotPos(int r) const { return {Bot(r).x, Bot(r).y}; }
    Vec BenchPos(int w) const { return {Bench(w).x, Bench(w).y}; }
    double BotRadius(int r) const { return Bot(r).product != 0 ? 0.53 : 0.45; }

    // --- mapping -----------------------------------------------------------

    // Directions of the robot's beams this frame: beam i at the heading
    // plus i degrees.
    void PrepareBeams(int r) {
        double ch = std::cos(static_cast<double>(Bot(r).heading)), sh = std::sin(static_cast<double>(Bot(r).heading));
        for (int i = 0; i < 360; ++i) {
            m_beamX[r][i] = ch * m_cos[i] - sh * m_sin[i];
            m_beamY[r][i] = sh * m_cos[i] + ch * m_sin[i];
        }
    }

    // Own robots are known exactly: a beam ending on one says nothing about
    // the walls.
    bool HitsOwnRobot(int self, double hx, double hy) const {
        for (int j = 0; j < ROBOTS; ++j) {
            if (j == self) continue;
            double dx = hx - Bot(j).x, dy = hy - Bot(j).y;
            double reach = BotRadius(j) + 0.05;
            if (dx * dx + dy * dy < reach * reach) return true;
        }
        return false;
    }

    void LearnFromLidar(int r) {
        const std::vector<float>& lidar = m_msg->lidar[r];
        if (lidar.size() != 360) return;
        const playerio::RobotLine& b = Bot(r);
        double px = b.x, py = b.y;
        if (!(px > 0 && px < GRID * CELL && py > 0 && py < GRID * CELL)) return;
        // Free space wears down false obstacles slowly anyway: every fourth
        // frame and the nearer part of each beam is enough for it.
        bool tracePasses = (m_frame + r) % 4 == 0;
        for (int i = 0; i < 360; ++i) {
            double d = lidar[i];
            m_beamWall[r][i] = false;
            if (!(d > 0) || d > 99.0) continue;
            double ux = m_beamX[r][i], uy = m_beamY[r][i];
            double hx = px + d * ux, hy = py + d * uy;
            if (tracePasses) TracePass(px, py, ux, uy, std::min(d - 0.05, 25.0));
            if (HitsOwnRobot(r, hx, hy)) continue;
            m_beamWall[r][i] = MarkHit(hx, hy, ux, uy);
        }
    }

    // A beam that ends on a cell boundary ends on an obstacle cell: the one
    // beyond the boundary in the beam's direction.
    // Returns whether the beam ended on a cell boundary.
    bool MarkHit(double hx, double hy, double ux, double uy) {
        const double tol = 0.002;
        double fx = hx / CELL, fy = hy / CELL;
        double rx = std::round(fx), ry = std::round(fy);
        bool onX = std::fabs(fx - rx) < tol, onY = std::fabs(fy - ry) < tol;
        if (onX && onY) return true;  // exactly a corner: which cell is unclear
        if (onX && std::fabs(ux) > 1e-3)
            m_grid.Hit(static_cast<int>(rx) + (ux > 0 ? 0 : -1), static_cast<int>(std::floor(fy)));
        else if (onY && std::fabs(uy) > 1e-3)
            m_grid.Hit(static_cast<int>(std::floor(fx)), static_cast<int>(ry) + (uy > 0 ? 0 : -1));
        return onX || onY;
    }

    // Every cell the beam crosses before its end is free (grid traversal).
    void TracePass(double px, double py, double ux, double uy, double len) {
        if (len <= 0) return;
        double fx = px / CELL, fy = py / CELL;
        int ix = static_cast<int>(std::floor(fx)), iy = static_cast<int>(std::floor(fy));
        int sx = ux > 0 ? 1 : -1, sy = uy > 0 ? 1 : -1;
        double tdx = std::fabs(ux) > 1e-12 ? CELL / std::fabs(ux) : 1e30;
        double tdy = std::fabs(uy) > 1e-12 ? CELL / std::fabs(uy) : 1e30;
        double tx = std::fabs(ux) > 1e-12 ? ((sx > 0 ? (ix + 1) - fx : fx - ix) * tdx) : 1e30;
        double ty = std::fabs(uy) > 1e-12 ? ((sy > 0 ? (iy + 1) - fy : fy - iy) * tdy) : 1e30;
        for (int guard = 0; guard < 4 * GRID; ++guard) {
            double next = std::min(tx, ty);
            if (next >= len) return;
            if (tx < ty) {
                ix += sx;
                tx += tdx;
            } else {
                iy += sy;
                ty += tdy;
            }
            if (!ObstacleGrid::Inside(ix, iy)) return;
            m_grid.Pass(ix, iy);
        }
    }

    // --- distance fields -----------------------------------------------------

    void UpdateFields() {
        m_costs.Update(m_grid, m_grid.Changes());
        m_grid.ClearChanges();
        // Fields that are missing come first; then the fields the robots
        // drive by, which may age a little; then the others, which only give
        // the trip estimates and may age more.  Only a few a frame.
        int budget = FIELD_BUDGET;
        int n = Benches();
        for (int k = 0; k < n && budget > 0; ++k)
            if (!m_fields[k].Valid() && RefreshField(k, 0)) --budget;
        for (int r = 0; r < ROBOTS && budget > 0; ++r) {
            int w = CurrentTarget(r);
            if (w >= 0 && RefreshField(w, DRIVE_FIELD_AGE)) --budget;
        }
        for (int k = 0; k < n && budget > 0; ++k) {
            int w = (m_nextField + k) % n;
            if (RefreshField(w, TRIP_FIELD_AGE)) {
                --budget;
                m_nextField = (w + 1) % n;
            }
        }
    }

    // Recomputes the field when the obstacles changed since it was made and
    // it is at least that many frames old.
    bool RefreshField(int w, int minAge) {
        DistanceField& f = m_fields[w];
        if (f.Valid() && (f.Version() == m_costs.Version() || m_frame - f.ComputedAt() < minAge)) return false;
        Vec p = BenchPos(w);
        f.Compute(m_costs, ObstacleGrid::CellOf(p.x), ObstacleGrid::CellOf(p.y), m_frame);
        return true;
    }

    // Path length in metres from the point to the workbench; the straight
    // line, lengthened, while the workbench's field is not there yet.
    double PathLength(Vec from, int w) const {
        const DistanceField& f = m_fields[w];
        int32_t d = f.At(ObstacleGrid::CellOf(from.x), ObstacleGrid::CellOf(from.y));
        if (!f.Valid()) return Dist(from, BenchPos(w)) * 1.4;
        if (d == UNREACHED) return 1e6;
        return d * (CELL / 10.0);
    }

    // Frames a robot needs to go that far, turns and braking included.
    double TravelFrames(double metres) const {
        if (metres >= 1e5) return 1e6;
        return metres / (m_maxSpeed * 0.7) * 50.0 + 25.0;
    }

    // --- tasks ---------------------------------------------------------------

    int CurrentTarget(int r) const {
        const Task& t = m_minds[r].task;
        if (t.kind == TaskKind::BUY) return t.buyAt;
        if (t.kind == TaskKind::SELL) return t.sellAt;
        return -1;
    }

    void ForgetBlocked() {
        for (size_t w = 0; w < m_blockedUntil.size(); ++w)
            if (m_blockedUntil[w] != 0 && m_blockedUntil[w] <= m_frame) m_blockedUntil[w] = 0;
    }

    bool Blocked(int w) const { return m_blockedUntil[w] > m_frame; }

    // Another robot's task already counts on this workbench's slot.
    bool SlotTaken(int w, int product, int except) const {
        if (IsSink(Bench(w).type)) return false;
        for (int r = 0; r < ROBOTS; ++r) {
            if (r == except) continue;
            const Task& t = m_minds[r].task;
            if (t.kind != TaskKind::NONE && t.sellAt == w && t.product == product) return true;
        }
        return false;
    }

    bool BuyTaken(int w, int except) const {
        for (int r = 0; r < ROBOTS; ++r)
            if (r != except && m_minds[r].task.kind == TaskKind::BUY && m_minds[r].task.buyAt == w) return true;
        return false;
    }

    // Whether the workbench can take the product now and no one else brings it.
    bool CanTake(int w, int product, int robot) const {
        const playerio::WorkbenchLine& b = Bench(w);
        if (!(NeedMask(b.type) & (1 << product))) return false;
        if (Blocked(w)) return false;
        if (IsSink(b.type)) return true;
        if (m_have[w] & (1 << product)) return false;
        return !SlotTaken(w, product, robot);
    }

    // Extra worth of bringing the material: more when it completes a recipe.
    double MaterialBonus(int w, int product, int robot) const {
        const playerio::WorkbenchLine& b = Bench(w);
        if (IsSink(b.type)) return 0;
        int need = NeedMask(b.type);
        int have = m_have[w] & need;
        for (int p = 1; p <= 7; ++p)
            if ((need & (1 << p)) && SlotTaken(w, p, robot)) have |= 1 << p;
        have |= 1 << product;
        bool complete = (have & need) == need;
        if (b.type == 7) return complete ? 30000 : 9000;
        return complete ? 6000 : 2000;
    }

    // Frames until the workbench's product can be bought, or -1 for never.
    int ReadyIn(int w) const {
        const playerio::WorkbenchLine& b = Bench(w);
        if (MadeProduct(b.type) == 0) return -1;
        if (b.ready) return 0;
        if (b.remain > 0) return b.remain;
        return -1;
    }

    // The best workbench to sell the carried product to from the point, or -1.
    int BestSale(int robot, int product, Vec from) const {
        int best = -1;
        double score = 0;
        for (int s = 0; s < Benches(); ++s) {
            if (!CanTake(s, product, robot)) continue;
            double carry = TravelFrames(PathLength(from, s));
            if (carry >= 1e5) continue;
            double gain = SELL_PRICE[product] * TimeRate(carry) + MaterialBonus(s, product, robot);
            double sc = gain / (carry + 30.0);
            if (best < 0 || sc > score) {
                best = s;
                score = sc;
            }
        }
        return best;
    }

    // The best trip for an empty-handed robot: buy at b, sell at s.
    bool BestTrip(int r, Task& task, double& score) const {
        Vec pos = BotPos(r);
        bool found = false;
        score = 0;
        int framesLeft = MAX_FRAME - m_frame;
        for (int b = 0; b < Benches(); ++b) {
            int product = MadeProduct(Bench(b).type);
            if (product == 0 || Blocked(b) || BuyTaken(b, r)) continue;
            if (m_msg->money < BUY_PRICE[product]) continue;
            int readyIn = ReadyIn(b);
            if (readyIn < 0) continue;
            double toBuy = TravelFrames(PathLength(pos, b));
            if (toBuy >= 1e5) continue;
            double wait = std::max(0.0, readyIn - toBuy);
            if (wait > 120) continue;
            Vec at = BenchPos(b);
            for (int s = 0; s < Benches(); ++s) {
                if (s == b || !CanTake(s, product, r)) continue;
                double carry = TravelFrames(PathLength(at, s));
                if (carry >= 1e5) continue;
                double total = toBuy + wait + carry;
                if (total * 1.2 + 40 > framesLeft) continue;
                double gain = SELL_PRICE[product] * TimeRate(carry) - BUY_PRICE[product] + MaterialBonus(s, product, r);
                double sc = gain / (total + 30.0);
                if (sc > score) {
                    score = sc;
                    task.kind = TaskKind::BUY;
                    task.buyAt = b;
                    task.sellAt = s;
                    task.product = product;
                    found = true;
                }
            }
        }
        return found;
    }

    void DropTask(int r) {
        m_minds[r].task = Task();
        m_minds[r].stuckCount = 0;
        m_minds[r].recoveries = 0;
        m_minds[r].watchDist = 1e9;
        m_minds[r].watchFrame = m_frame;
    }

    void SetTask(int r, const Task& task) {
        DropTask(r);
        m_minds[r].task = task;
        TRACE("frame %d robot %d task %d buy %d sell %d product %d\n", m_frame, r, static_cast<int>(task.kind),
              task.buyAt, task.sellAt, task.product);
    }

    // Brings each robot's task in line with what the frame message shows.
    void FollowUp(int r) {
        RobotMind& mind = m_minds[r];
        Task& t = mind.task;
        const playerio::RobotLine& b = Bot(r);
        int n = Benches();
        if (t.buyAt >= n || t.sellAt >= n) DropTask(r);
        if (b.product != 0) {
            if (t.kind == TaskKind::BUY && b.product == t.product) {
                t.kind = TaskKind::SELL;  // the purchase went through
                mind.watchDist = 1e9;
                mind.recoveries = 0;
            } else if (t.kind != TaskKind::SELL || t.product != b.product) {
                if (mind.sentSellAt >= 0 && mind.sentSellFrame >= m_frame - 2) {
                    TRACE("frame %d robot %d sale refused at %d\n", m_frame, r, mind.sentSellAt);
                    m_blockedUntil[mind.sentSellAt] = m_frame + 100;
                }
                DropTask(r);
            }
            if (t.kind == TaskKind::SELL && !CanTakeOwn(t.sellAt, b.product, r)) DropTask(r);
            if (t.kind == TaskKind::NONE) ChooseSale(r);
        } else {
            if (t.kind == TaskKind::SELL) DropTask(r);  // sold (or lost)
            if (t.kind == TaskKind::BUY && (ReadyIn(t.buyAt) < 0 || Blocked(t.buyAt))) DropTask(r);
            mind.carryIdleFrames = 0;
        }
        mind.sentSellAt = -1;
    }

    // Whether the robot's own target slot is still open.
    bool CanTakeOwn(int w, int product, int robot) const {
        const playerio::WorkbenchLine& b = Bench(w);
        if (!(NeedMask(b.type) & (1 << product))) return false;
        return IsSink(b.type) || (!(m_have[w] & (1 << product)) && !SlotTaken(w, product, robot));
    }

    void ChooseSale(int r) {
        const playerio::RobotLine& b = Bot(r);
        int s = BestSale(r, b.product, BotPos(r));
        if (s >= 0) {
            Task t;
            t.kind = TaskKind::SELL;
            t.sellAt = s;
            t.product = b.product;
            SetTask(r, t);
            m_minds[r].carryIdleFrames = 0;
        } else {
            ++m_minds[r].carryIdleFrames;
        }
    }

    // Greedy: the best trip of all idle robots first, then the next.
    void AssignTasks() {
        for (;;) {
            int bestRobot = -1;
            double bestScore = 0;
            Task bestTask;
            for (int r = 0; r < ROBOTS; ++r) {
                if (m_minds[r].task.kind != TaskKind::NONE || Bot(r).product != 0) continue;
                Task t;
                double sc;
                if (BestTrip(r, t, sc) && (bestRobot < 0 || sc > bestScore)) {
                    bestRobot = r;
                    bestScore = sc;
                    bestTask = t;
                }
            }
            if (bestRobot < 0) return;
            SetTask(bestRobot, bestTask);
        }
    }

    // Buys and sells where the robot stands; a sale may be followed by a
    // purchase at the same workbench in the same answer.
    void Trade(int r, playerio::Answer& answer) {
        RobotMind& mind = m_minds[r];
        const playerio::RobotLine& b = Bot(r);
        if (b.product != 0 && mind.carryIdleFrames > 400) {
            answer.Command("destroy", r);
            TRACE("frame %d robot %d destroys %d\n", m_frame, r, b.product);
            DropTask(r);
            mind.carryIdleFrames = 0;
            return;
        }
        if (b.nearIdx < 0 || b.nearIdx >= Benches()) return;
        Task& t = mind.task;
        if (t.kind == TaskKind::SELL && b.nearIdx == t.sellAt && b.product == t.product) {
            answer.Command("sell", r);
            TRACE("frame %d robot %d sells %d at %d\n", m_frame, r, t.product, t.sellAt);
            mind.sentSellAt = t.sellAt;
            mind.sentSellFrame = m_frame;
            m_have[t.sellAt] |= 1 << t.product;
            DropTask(r);
            // Plan on from here as if empty-handed: buy at once if the same
            // workbench has the best trip.
            Task next;
            double sc;
            if (m_frame + 1 < MAX_FRAME && BestTripFromHere(r, next, sc)) {
                SetTask(r, next);
                if (next.buyAt == b.nearIdx && Bench(next.buyAt).ready) {
                    answer.Command("buy", r);
                    TRACE("frame %d robot %d buys %d at %d after selling\n", m_frame, r, next.product, next.buyAt);
                }
            }
            return;
        }
        if (t.kind == TaskKind::BUY && b.product == 0 && b.nearIdx == t.buyAt && Bench(t.buyAt).ready) {
            answer.Command("buy", r);
            TRACE("frame %d robot %d buys %d at %d\n", m_frame, r, t.product, t.buyAt);
        }
    }

    // The trip from the workbench the robot has just sold to.  A finished
    // product there is the robot's to take, even when another robot is on
    // its way to fetch it; that one is given something else next frame.
    bool BestTripFromHere(int r, Task& task, double& score) {
        int here = Bot(r).nearIdx;
        Task saved[ROBOTS];
        for (int other = 0; other < ROBOTS; ++other) {
            saved[other] = m_minds[other].task;
            if (other != r && saved[other].kind == TaskKind::BUY && saved[other].buyAt == here)
                m_minds[other].task = Task();
        }
        bool takeOver = BestTrip(r, task, score) && task.buyAt == here;
        for (int other = 0; other < ROBOTS; ++other) {
            if (other == r || saved[other].kind != TaskKind::BUY || saved[other].buyAt != here) continue;
            if (takeOver) DropTask(other);
            else m_minds[other].task = saved[other];
        }
        return takeOver || BestTrip(r, task, score);
    }

    // --- driving -------------------------------------------------------------

    // The point to head for: the farthest point along the target's path
    // that can be reached in a straight line with room to spare.
    Vec Waypoint(int r, int w) const {
        Vec pos = BotPos(r);
        Vec goal = BenchPos(w);
        double room = BotRadius(r) + 0.05;
        if (Dist(pos, goal) < 1.0 || ClearLine(pos, goal, room)) return goal;
        const DistanceField& f = m_fields[w];
        if (!f.Valid()) return goal;
        int cx = ObstacleGrid::CellOf(pos.x), cy = ObstacleGrid::CellOf(pos.y);
        Vec chain[24];
        int n = 0;
        while (n < 24) {
            int32_t here = f.At(cx, cy);
            int bx = -1, by = -1;
            int32_t best = here;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    if (dx == 0 && dy == 0) continue;
                    if (dx != 0 && dy != 0 && (m_grid.IsObstacle(cx + dx, cy) || m_grid.IsObstacle(cx, cy + dy)))
                        continue;
                    int32_t d = f.At(cx + dx, cy + dy);
                    if (d < best) {
                        best = d;
                        bx = cx + dx;
                        by = cy + dy;
                    }
                }
            if (bx < 0) break;
            cx = bx;
            cy = by;
            chain[n++] = {(cx + 0.5) * CELL, (cy + 0.5) * CELL};
            if (best == 0) {
                chain[n - 1] = goal;
                break;
            }
        }
        if (n == 0) return goal;
        for (int k = n - 1; k > 0; --k)
            if (ClearLine(pos, chain[k], room)) return chain[k];
        return chain[0];
    }

    // Whether a robot of the clearance can go straight from a to b; the
    // first stretch is spared, since a robot may start close to a wall.
    bool ClearLine(Vec a, Vec b, double room) const {
        double len = Dist(a, b);
        int steps = static_cast<int>(len / 0.2) + 1;
        for (int k = 1; k <= steps; ++k) {
            double t = static_cast<double>(k) / steps;
            double x = a.x + (b.x - a.x) * t, y = a.y + (b.y - a.y) * t;
            if (m_grid.IsObstacle(ObstacleGrid::CellOf(x), ObstacleGrid::CellOf(y))) return false;
            if (t * len > 0.5 && m_grid.Clearance(x, y) < room) return false;
        }
        return true;
    }

    // Free way in metres along the absolute direction for a body of the
    // radius, from the robot's lidar.
    // Walls may be given a closer margin than robots; a negative one leaves
    // them out.
    double FreeWay(int r, double dir, double radius) const { return FreeWay(r, dir, radius, radius); }
    double FreeWay(int r, double dir, double radius, double wallRadius) const {
        const std::vector<float>& lidar = m_msg->lidar[r];
        if (lidar.size() != 360) return 10.0;
        double cx = std::cos(dir), cy = std::sin(dir);
        double best = 10.0;
        for (int i = 0; i < 360; ++i) {
            double d = lidar[i];
            if (d > 12.0) continue;
            double along = d * (m_beamX[r][i] * cx + m_beamY[r][i] * cy);
            if (along <= 0) continue;
            double lat = std::fabs(d * (m_beamX[r][i] * cy - m_beamY[r][i] * cx));
            double reach = m_beamWall[r][i] ? wallRadius : radius;
            if (lat >= reach) continue;
            double stop = along - std::sqrt(reach * reach - lat * lat);
            best = std::min(best, stop);
        }
        return std::max(0.0, best);
    }

    // Where each robot heads this frame (its position when it has no task).
    void PlanWaypoints() {
        for (int r = 0; r < ROBOTS; ++r) {
            int w = CurrentTarget(r);
            m_waypoint[r] = w >= 0 ? Waypoint(r, w) : BotPos(r);
        }
    }

    // Robots give way by rank: carrying beats empty-handed (the load loses
    // value while it waits), a task beats none, then the lower id.
    int Rank(int r) const {
        int rank = 0;
        if (Bot(r).product != 0) rank += 2 * ROBOTS;
        if (CurrentTarget(r) >= 0) rank += ROBOTS;
        return rank + (ROBOTS - r);
    }

    // The higher-ranked own robot this one must make way for: close by, and
    // one heading for the other (or this one idle in its way).
    int GiveWayTo(int r) const {
        Vec pos = BotPos(r);
        int found = -1;
        double nearest = 1e9;
        for (int j = 0; j < ROBOTS; ++j) {
            if (j == r || Rank(j) < Rank(r)) continue;
            Vec other = BotPos(j);
            double d = Dist(pos, other);
            if (d > GIVE_WAY_DIST || d < 1e-6) continue;
            double ux = (other.x - pos.x) / d, uy = (other.y - pos.y) / d;
            bool jComes = Heads(j, -ux, -uy);
            bool rGoes = CurrentTarget(r) < 0 || Heads(r, ux, uy);
            if (jComes && rGoes && d < nearest) {
                nearest = d;
                found = j;
            }
        }
        return found;
    }

    // Whether the robot's way leads along the unit direction (within 60 degrees).
    bool Heads(int r, double ux, double uy) const {
        Vec pos = BotPos(r);
        double dx = m_waypoint[r].x - pos.x, dy = m_waypoint[r].y - pos.y;
        double len = std::hypot(dx, dy);
        if (len < 0.3) return false;
        return (dx * ux + dy * uy) / len > 0.5;
    }

    // Backs away from the robot it makes way for, or steps aside when there
    // is no room behind.
    Motion GiveWay(int r, int j) const {
        const playerio::RobotLine& b = Bot(r);
        Motion m;
        Vec pos = BotPos(r), other = BotPos(j);
        double away = std::atan2(pos.y - other.y, pos.x - other.x);
        double radius = BotRadius(r) + 0.08;
        double err = WrapAngle(away - b.heading);
        if (std::fabs(err) <= PI_D / 2) {
            m.turn = std::clamp(err * 4.0, -PI_D, PI_D);
            m.speed = FreeWay(r, b.heading, radius) > 0.4 ? 1.5 : 0.0;
        } else {
            m.turn = std::clamp(WrapAngle(away + PI_D - b.heading) * 4.0, -PI_D, PI_D);
            m.speed = FreeWay(r, b.heading + PI_D, radius) > 0.4 ? -1.5 : 0.0;
        }
        if (m.speed == 0.0) {
            // Nothing behind either way: turn across and leave sideways.
            double side = away + PI_D / 2;
            if (FreeWay(r, side, radius) < FreeWay(r, away - PI_D / 2, radius)) side = away - PI_D / 2;
            m.turn = std::clamp(WrapAngle(side - b.heading) * 4.0, -PI_D, PI_D);
            m.speed = std::fabs(WrapAngle(side - b.heading)) < PI_D / 4 ? 1.0 : 0.0;
        }
        return m;
    }

    Motion Drive(int r) {
        RobotMind& mind = m_minds[r];
        const playerio::RobotLine& b = Bot(r);
        Motion m;
        int w = CurrentTarget(r);
        int yieldTo = GiveWayTo(r);
        if (yieldTo >= 0) {
            mind.watchFrame = m_frame;  // making way is no lack of progress
            mind.watchDist = 1e9;
            return GiveWay(r, yieldTo);
        }
        if (w < 0) {
            ++m_idleFrames;
            return m;  // nothing to do: stand still
        }
        if (mind.recoverUntil > m_frame) {
            m.speed = -1.5;
            m.turn = 1.5 * mind.recoverSign;
            if (FreeWay(r, b.heading + PI_D, BotRadius(r) + 0.05) < 0.3) m.speed = 0.5;
            return m;
        }
        Vec pos = BotPos(r);
        Vec goal = BenchPos(w);
        double toGoal = Dist(pos, goal);
        bool waiting = mind.task.kind == TaskKind::BUY && ReadyIn(w) > 0 &&
                       ReadyIn(w) > TravelFrames(toGoal) - 25.0;
        WatchProgress(r, w, waiting);
        if (waiting && toGoal < 0.4) ++m_waitFrames;

        Vec wp = m_waypoint[r];
        double want = std::atan2(wp.y - pos.y, wp.x - pos.x);
        // Close to the workbench the robot may brush what is around it: a
        // workbench can stand right by a wall.
        bool closing = toGoal < 1.2;
        double radius = BotRadius(r) + 0.12;
        double wallRadius = BotRadius(r) + (closing ? 0.02 : 0.12);
        double toWp = Dist(pos, wp);
        double need = std::min(toWp, 2.5);
        double dir = want;
        if (FreeWay(r, want, radius, wallRadius) < need) {
            // Something in the way: the nearest direction with room.
            double bestFree = -1;
            for (int k = 1; k <= 9; ++k) {
                for (int side = 0; side < 2; ++side) {
                    double cand = want + (side == 0 ? 1 : -1) * k * (PI_D / 18.0);
                    double free = FreeWay(r, cand, radius, wallRadius);
                    if (free >= need) {
                        dir = cand;
                        bestFree = 1e9;
                        break;
                    }
                    if (free > bestFree) {
                        bestFree = free;
                        dir = cand;
                    }
                }
                if (bestFree >= 1e9) break;
            }
        }
        double err = WrapAngle(dir - b.heading);
        m.turn = std::clamp(err * 5.0 - b.omega * 0.15, -PI_D, PI_D);
        double speed = m_maxSpeed;
        double ca = std::cos(err);
        if (std::fabs(err) > PI_D / 3) speed = 0;
        else speed *= ca * ca;
        // Arrive at the workbench slowly enough to stop on it when waiting,
        // and to pass through it otherwise.
        double endSpeed = waiting ? 0.0 : 1.5;
        double brake = b.product != 0 ? 9.0 : 12.0;
        speed = std::min(speed, std::sqrt(endSpeed * endSpeed + 2 * brake * std::max(0.0, toGoal - 0.1)));
        if (waiting && toGoal < 0.3) speed = std::min(speed, toGoal * 2);
        // Keep the room to stop short of what is ahead; of a wall next to
        // the workbench only just.
        double aheadRobot = FreeWay(r, b.heading, BotRadius(r) + 0.08, -1.0);
        double aheadWall = closing ? FreeWay(r, b.heading, -1.0, BotRadius(r) + 0.01)
                                   : FreeWay(r, b.heading, -1.0, BotRadius(r) + 0.08) - 0.15;
        speed = std::min(speed, std::sqrt(2 * brake * std::max(0.0, aheadRobot - 0.15)));
        speed = std::min(speed, std::sqrt(2 * brake * std::max(0.0, aheadWall)));
        m.speed = std::clamp(speed, -2.0, m_maxSpeed);
        return m;
    }

    // Notices a robot that makes no way to its target and has it back off.
    void WatchProgress(int r, int w, bool waiting) {
        RobotMind& mind = m_minds[r];
        if (m_frame - mind.watchFrame < 25) return;
        double d = PathLength(BotPos(r), w);
        if (Dist(BotPos(r), BenchPos(w)) < 0.4) d = 0;
        bool stuck = !waiting && d > 0.3 && d > mind.watchDist - 0.3;
        mind.watchFrame = m_frame;
        mind.watchDist = d;
        if (!stuck) {
            mind.stuckCount = 0;
            return;
        }
        if (++mind.stuckCount < 2) return;
        mind.stuckCount = 0;
        ++mind.recoveries;
        mind.recoverSign = ((r + mind.recoveries) % 2 == 0) ? 1 : -1;
        mind.recoverUntil = m_frame + 20;
        TRACE("frame %d robot %d stuck on the way to %d (%d)\n", m_frame, r, w, mind.recoveries);
        if (mind.recoveries >= 4) {
            // Give the workbench up for a while; a load goes elsewhere.
            m_blockedUntil[w] = m_frame + 500;
            DropTask(r);
        }
    }

    static constexpr int FIELD_BUDGET = 2;
    static constexpr double GIVE_WAY_DIST = 2.2;  // centre to centre, metres
    static constexpr int DRIVE_FIELD_AGE = 5;
    static constexpr int TRIP_FIELD_AGE = 50;

    double m_maxSpeed;
    const playerio::FrameMessage* m_msg = nullptr;
    int m_frame = 0;
    ObstacleGrid m_grid;
    CostMap m_costs;
    std::vector<DistanceField> m_fields;
    std::vector<int> m_blockedUntil;
    std::vector<int> m_have;  // the materials held, with this frame's own sales
    int m_nextField = 0;
    RobotMind m_minds[ROBOTS];
    int m_idleFrames = 0;  // robot frames without a task, for the trace
    int m_waitFrames = 0;  // robot frames waiting at a workbench, for the trace
    double m_cos[360], m_sin[360];  // of whole degrees
    double m_beamX[ROBOTS][360], m_beamY[ROBOTS][360];
    Vec m_waypoint[ROBOTS];
    bool m_beamWall[ROBOTS][360] = {};  // the beam ended on a wall (not on a robot)
};

double CpuMs() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

}  // namespace

int main() {
    g_debug = getenv("TRADER_DEBUG") != nullptr;
    if (g_debug && getenv("TRADER_DUMP")) g_dumpFrame = atoi(getenv("TRADER_DUMP"));
    playerio::LineReader in;
    int side = playerio::ReadStart(in);
    if (side < 0 || !playerio::WriteAll("OK\n")) return 0;
    static Trader trader(side);
    playerio::FrameMessage msg;
    playerio::Answer answer;
    double totalMs = 0;
    int frames = 0;
    while (playerio::ReadFrame(in, msg)) {
        double start = CpuMs();
        trader.Play(msg, answer);
        double ms = CpuMs() - start;
        totalMs += ms;
        ++frames;
        if (ms > 1.0) TRACE("frame %d took %.2f ms\n", msg.frame, ms);
        if (!answer.Send()) break;
    }
    trader.TraceTotals();
    TRACE("%d frames, %.3f ms each on average\n", frames, frames ? totalMs / frames : 0.0);
    return 0;
}

#include "Map.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <queue>
#include <utility>

#include "Log.h"
#include "Robot.h"

double PI = acos(-1.0);

int32_t Map::s_bitIndexMod37[37];
uint32_t Map::s_lowMasks[32];
uint32_t Map::s_highMasks[32];

namespace {

constexpr int MAP_FILE_COL_NUMS = MAP_SIDE_CELLS;  // characters of a row that count, one a cell
constexpr int MAP_LINE_BUF_SIZE = 1024;   // one read takes at most 1023 characters
constexpr int MAX_WORKBENCH_NUMS = 50;    // both players together
constexpr double EPS = 1e-8;              // the lidar's tolerance, cells or radians
constexpr double NO_HIT = 1e100;          // a beam that meets nothing
// A segment this close to the robot's centre (cells) is tested on every
// beam: within the tolerance RaySegmentDistance puts the centre on the
// segment (0 on every beam) or finds it within 1e-8 behind, neither of which
// the segment's angular span shows.  A robot never gets that close to an
// edge in a match.
constexpr double TOUCH_DIST = 1e-6;

using Rows = std::vector<std::vector<char>>;

// ------------------------------------------------------------ map file

// Reads one line as fgets does on a text-mode stream of the platform the map
// files are written on: a CR LF pair arrives as one LF, any other byte as it
// is.  At most size - 1 characters are taken, and the read stops after a LF.
// False when nothing could be read or the stream failed.
bool ReadTextLine(FILE* file, char* buf, int size) {
    int n = 0;
    while (n < size - 1) {
        int c = getc(file);
        if (c == EOF) break;
        if (c == '\r') {
            int next = getc(file);
            if (next == '\n') {
                c = '\n';
            } else if (next != EOF) {
                ungetc(next, file);
            }
        }
        buf[n++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    buf[n] = '\0';
    if (ferror(file)) return false;
    return n > 0;
}

// The first fault of a map in scan order.
struct MapCheck {
    enum Fault { NONE, ROBOT_SPACE, UNKNOWN_CHAR, TOO_MANY_WORKBENCHES };
    Fault fault = NONE;
    int row = 0;  // from 0
    int col = 0;  // from 0
    char ch = 0;
    int workbenchNums = 0;
};

bool IsWorkbenchChar(char c) { return (c >= '1' && c <= '9') || (c >= 'a' && c <= 'i'); }

// A robot needs its eight neighbours inside the map and free of robots and
// obstacles.
bool HasRobotSpace(const Rows& rows, int row, int col) {
    for (int dr = -1; dr <= 1; ++dr) {
        for (int dc = -1; dc <= 1; ++dc) {
            if (dr == 0 && dc == 0) continue;
            int r = row + dr;
            int c = col + dc;
            if (r < 0 || r >= MAP_FILE_ROW_NUMS || c < 0 || c >= MAP_FILE_COL_NUMS) return false;
            char n = rows[r][c];
            if (n == 'A' || n == 'B' || n == '#') return false;
        }
    }
    return true;
}

MapCheck CheckRows(const Rows& rows) {
    MapCheck check;
    for (int row = 0; row < MAP_FILE_ROW_NUMS; ++row) {
        for (int col = 0; col < MAP_FILE_COL_NUMS; ++col) {
            char c = rows[row][col];
            if (c == 'A' || c == 'B') {
                if (!HasRobotSpace(rows, row, col)) {
                    check.fault = MapCheck::ROBOT_SPACE;
                    check.row = row;
                    check.col = col;
                    return check;
                }
            } else if (IsWorkbenchChar(c)) {
                ++check.workbenchNums;
            } else if (c != '.' && c != '#') {
                check.fault = MapCheck::UNKNOWN_CHAR;
                check.row = row;
                check.col = col;
                check.ch = c;
                return check;
            }
        }
    }
    if (check.workbenchNums > MAX_WORKBENCH_NUMS) check.fault = MapCheck::TOO_MANY_WORKBENCHES;
    return check;
}

// Every row must hold exactly the characters that the checks walk over.
bool AllRowsHaveLength(const Rows& rows, size_t length) {
    for (const std::vector<char>& row : rows) {
        if (row.size() != length) return false;
    }
    return true;
}

b2Vec2 CellCentre(int row, int col, int width, int height) {
    // The float cell size, widened, times the double offset, rounded once.
    return b2Vec2(static_cast<float>(static_cast<double>(MAP_SIZE / width) * (col + 0.5)),
                  static_cast<float>(static_cast<double>(MAP_SIZE / height) * ((height - row) - 0.5)));
}

// ------------------------------------------------------------ obstacle edges

// A sizeA by sizeB grid of marks, indexed (a, b).
class MarkGrid {
public:
    MarkGrid(int sizeA, int sizeB) : m_sizeB(sizeB), m_marks(static_cast<size_t>(sizeA) * sizeB, 0) {}
    bool Get(int a, int b) const { return m_marks[Index(a, b)] != 0; }
    void Set(int a, int b) { m_marks[Index(a, b)] = 1; }

private:
    size_t Index(int a, int b) const { return static_cast<size_t>(a) * m_sizeB + b; }
    int m_sizeB;
    std::vector<uint8_t> m_marks;
};

// The sides of obstacle cells that face a free cell or the outside:
// horiz(x, j) is the edge (x, j)-(x + 1, j), vert(y, i) the edge
// (i, y)-(i, y + 1), all in cell corners with y from the bottom.
struct EdgeMarks {
    MarkGrid horiz;
    MarkGrid vert;
};

// Walks each 4-connected region of obstacle cells breadth first and marks
// the sides it shares with anything but an obstacle cell.
EdgeMarks MarkObstacleSides(const Rows& grid, int W, int H) {
    EdgeMarks marks{MarkGrid(W, H + 1), MarkGrid(H, W + 1)};
    MarkGrid visited(W, H);
    auto isObstacle = [&](int x, int y) { return x >= 0 && x < W && y >= 0 && y < H && grid[x][y] == '#'; };
    for (int x0 = 0; x0 < W; ++x0) {
        for (int y0 = 0; y0 < H; ++y0) {
            if (grid[x0][y0] != '#' || visited.Get(x0, y0)) continue;
            visited.Set(x0, y0);
            std::queue<std::pair<int, int>> queue;
            queue.emplace(x0, y0);
            while (!queue.empty()) {
                const auto [x, y] = queue.front();
                queue.pop();
                const int neighbours[4][2] = {{x + 1, y}, {x - 1, y}, {x, y + 1}, {x, y - 1}};
                for (const auto& n : neighbours) {
                    const int nx = n[0];
                    const int ny = n[1];
                    if (isObstacle(nx, ny)) {
                        if (!visited.Get(nx, ny)) {
                            visited.Set(nx, ny);
                            queue.emplace(nx, ny);
                        }
                    } else if (ny == y) {
                        marks.vert.Set(y, std::max(x, nx));
                    } else {
                        marks.horiz.Set(x, std::max(y, ny));
                    }
                }
            }
        }
    }
    return marks;
}

// Calls add(start, end) for every maximal run of marked positions among
// 0..count - 1, end being the first unmarked position after the run or count.
template <typename Marked, typename Add>
void ForEachRun(int count, Marked marked, Add add) {
    int k = 0;
    while (k < count) {
        if (!marked(k)) {
            ++k;
            continue;
        }
        int e = k;
        while (e < count && marked(e)) ++e;
        add(k, e);
        k = e + 1;
    }
}

// ------------------------------------------------------------ lidar

int Sgn(double v) {
    if (v > EPS) return 1;
    if (v < -EPS) return -1;
    return 0;  // NaN too
}

// The beam tables of both scans: beam i at heading + i degrees.
double BeamAngle(int i, double heading) { return (static_cast<double>(i + i) * PI) / 360.0 + heading; }

// Another robot as the scanning robot sees it, in cells: its offset and
// radius, the same for every beam.
struct ObstacleOffset {
    double wx;
    double wy;
    double r;
};

ObstacleOffset OffsetOf(double px, double py, const RadarObstacle& obstacle, float cellX, float cellY) {
    const double ox = obstacle.x / cellX;
    const double oy = obstacle.y / cellY;
    const double r = (obstacle.product != 0 ? ROBOT_CARRY_RADIUS : ROBOT_RADIUS) / cellY;
    return ObstacleOffset{ox - px, oy - py, r};
}

std::vector<ObstacleOffset> OffsetsOf(double px, double py, const std::vector<RadarObstacle>& obstacles, float cellX,
                                      float cellY) {
    std::vector<ObstacleOffset> offsets;
    offsets.reserve(obstacles.size());
    for (const RadarObstacle& obstacle : obstacles) offsets.push_back(OffsetOf(px, py, obstacle, cellX, cellY));
    return offsets;
}

double BeamObstacleDistance(const ObstacleOffset& o, double c, double s) {
    const double perp = std::fabs(o.wx * s - o.wy * c);
    const double along = o.wx * c + o.wy * s;
    if (perp - o.r > EPS) return NO_HIT;
    if (along < -EPS) return NO_HIT;  // behind, even when it overlaps the centre
    const double d = along - sqrt(std::max(0.0, o.r * o.r - perp * perp));
    return d < 0 ? 0.0 : d;
}

// Turns a beam's nearest segment distance into its reading: the nearest of
// that and the other robots, in single precision, scaled to metres.
float BeamReading(double best, double c, double s, const std::vector<ObstacleOffset>& obstacles, float cellY) {
    float cur = static_cast<float>(best);
    for (const ObstacleOffset& obstacle : obstacles) {
        float h = static_cast<float>(BeamObstacleDistance(obstacle, c, s));
        if (!(h > cur)) cur = h;
    }
    return cellY * cur;
}

// Range a lies nearer than range b; ranges within EPS count as equally near.
bool RangeBefore(const SegmentRange& a, const SegmentRange& b) {
    double diff = a.near - b.near;
    return diff < -EPS || (std::fabs(diff) <= EPS && a.far < b.far);
}

void OpenAllBeams(BeamMask& mask) {
    for (int w = 0; w < 11; ++w) mask.words[w] = 0xFFFFFFFFu;
    mask.words[11] = Map::s_lowMasks[7];
}

bool AllBeamsClosed(const BeamMask& mask) {
    for (uint32_t word : mask.words) {
        if (word != 0) return false;
    }
    return true;
}

// The bits of beams a..b (0 <= a, b <= 360) within word w.
uint32_t BeamSelection(int a, int b, int w) {
    uint32_t sel = 0xFFFFFFFFu;
    if (w == a / 32) sel &= Map::s_highMasks[a % 32];
    if (w == b / 32) sel &= Map::s_lowMasks[b % 32];
    return sel;
}

// Appends the open beams a..b of the mask in ascending order.
void CollectBeams(const BeamMask& mask, int a, int b, std::vector<int>& beams) {
    if (a > b) return;
    for (int w = a / 32; w <= b / 32; ++w) {
        uint32_t x = mask.words[w] & BeamSelection(a, b, w);
        while (x != 0) {
            uint32_t bit = x & (0u - x);
            beams.push_back(Map::s_bitIndexMod37[bit % 37] + 32 * w);
            x -= bit;
        }
    }
}

void CloseBeams(BeamMask& mask, int a, int b) {
    if (a > b) return;
    for (int w = a / 32; w <= b / 32; ++w) mask.words[w] &= ~BeamSelection(a, b, w);
}

// A beam position truncated toward zero; anything outside 0..361 (a NaN
// position) becomes 361, which selects no beam.
int BeamIndex(double v) {
    if (!(v >= 0.0 && v < 362.0)) return RADAR_BEAM_NUMS + 1;
    return static_cast<int32_t>(v);
}

// An angle from P, counter-clockwise from beam 0, in [0, 2pi].
double SpanAngle(double y, double x, double h, double twoPi) {
    double a = atan2(y, x);
    if (a < 0) a += twoPi;
    a -= h;
    if (a < 0) a += twoPi;
    return a;
}

// The beams of one range's angular span: lo..hi, wrapping through beam 0
// when the span's end lies before its start.
struct BeamSpan {
    int lo;
    int hi;
    bool wrap;
};

BeamSpan SpanOf(const SegmentRange& range, double px, double py, double h, double step, double twoPi) {
    double ux = range.ax - px;
    double uy = range.ay - py;
    double vx = range.bx - px;
    double vy = range.by - py;
    // S follows F counter-clockwise as seen from P.
    bool swap = ux * vy - uy * vx < -EPS;
    double a1 = swap ? SpanAngle(vy, vx, h, twoPi) : SpanAngle(uy, ux, h, twoPi);
    double a2 = swap ? SpanAngle(uy, ux, h, twoPi) : SpanAngle(vy, vx, h, twoPi);
    BeamSpan span;
    span.lo = BeamIndex((a1 + step - EPS) / step);
    // The same 1e-8 of slack after a2 as before a1: RaySegmentDistance
    // counts a beam that passes an end point that closely as meeting the
    // segment, and so does the reference scan.
    span.hi = BeamIndex((a2 + EPS) / step);
    span.wrap = a2 < a1;
    if (!span.wrap && span.hi >= RADAR_BEAM_NUMS) {
        // Beam 360 is beam 0: the span ends within the slack before it.
        span.wrap = true;
        span.hi = 0;
    }
    return span;
}

void CollectSpan(const BeamMask& mask, const BeamSpan& span, std::vector<int>& beams) {
    if (!span.wrap) {
        CollectBeams(mask, span.lo, span.hi, beams);
        return;
    }
    if (span.lo <= 359) CollectBeams(mask, span.lo, 359, beams);
    CollectBeams(mask, 0, span.hi, beams);
}

// Closes the beams strictly inside the span; its two end beams stay open.
void CloseSpanInside(BeamMask& mask, const BeamSpan& span) {
    if (!span.wrap) {
        CloseBeams(mask, span.lo + 1, span.hi - 1);
        return;
    }
    if (span.lo + 1 <= 359) CloseBeams(mask, span.lo + 1, 359);
    if (span.hi - 1 >= 0) CloseBeams(mask, 0, span.hi - 1);
}

// The heading as an angle in [0, 2pi).
double ReducedHeading(float heading) {
    const double twoPi = PI * 2.0;
    double h = fmod(static_cast<double>(heading), twoPi);
    if (h < 0) h += twoPi;
    return h;
}

// Each beam's direction and its nearest segment distance so far.
struct BeamTable {
    // The beams point exactly where the reference scan's do: taken from the
    // reduced heading instead, their cosines and sines differ in the last
    // bits whenever the heading is outside [0, 2pi), and so, now and then,
    // do the readings.  The reduced heading only places the spans, whose
    // 1e-8 of slack covers that difference.
    explicit BeamTable(float heading) {
        for (int j = 0; j < RADAR_BEAM_NUMS; ++j) {
            const double angle = BeamAngle(j, heading);
            cos[j] = std::cos(angle);
            sin[j] = std::sin(angle);
            best[j] = NO_HIT;
        }
    }
    double cos[RADAR_BEAM_NUMS];
    double sin[RADAR_BEAM_NUMS];
    double best[RADAR_BEAM_NUMS];
};

// Casts the open beams of each range's span on its segment, nearest range
// first, and closes the beams that met a segment for every range that lies
// wholly beyond it.  h is the reduced heading.
void MeetRanges(const std::vector<SegmentRange>& ranges, double px, double py, double h, BeamTable& table) {
    static const double step = (PI * 2.0) / 360.0;
    const double twoPi = PI * 2.0;
    std::vector<BeamMask> masks(ranges.size());
    for (BeamMask& mask : masks) OpenAllBeams(mask);
    std::vector<int> beams;
    beams.reserve(RADAR_BEAM_NUMS);
    for (size_t k = 0; k < ranges.size(); ++k) {
        const SegmentRange& range = ranges[k];
        BeamMask& mask = masks[k];
        if (k > 0) {
            for (int w = 0; w < 12; ++w) mask.words[w] &= masks[k - 1].words[w];
        }
        const BeamSpan span = SpanOf(range, px, py, h, step, twoPi);
        beams.clear();
        if (range.near <= TOUCH_DIST) {
            CollectBeams(mask, 0, RADAR_BEAM_NUMS - 1, beams);
        } else {
            CollectSpan(mask, span, beams);
        }
        if (beams.empty()) {
            if (AllBeamsClosed(mask)) return;
            continue;
        }
        for (int j : beams) {
            const double d = Map::RaySegmentDistance(px, py, table.cos[j], table.sin[j], range.ax, range.ay, range.bx,
                                                     range.by);
            if (!(d > table.best[j])) table.best[j] = d;
        }
        // Ranges from m on lie no nearer than this range's far end.
        const SegmentRange key = {0, 0, 0, 0, range.far, range.far};
        const size_t m = static_cast<size_t>(std::lower_bound(ranges.begin(), ranges.end(), key, RangeBefore) -
                                             ranges.begin());
        if (m < ranges.size()) CloseSpanInside(masks[m], span);
    }
}

}  // namespace

// ------------------------------------------------------------ checks

void ShouldBeTrue(bool condition, const char* message) {
    if (condition) return;
    fprintf(stderr, "%s\n", message);
    fflush(stderr);
    const bool should_be_true = condition;
    HARD_ASSERT(should_be_true);
}

// ------------------------------------------------------------ loading

bool Map::Load(const std::string& path) {
    FILE* file = fopen(path.c_str(), "r");
    if (file == nullptr) {
        LOG_ERR("Can not open:%s, err:%s\n", path.c_str(), strerror(errno));
        return false;
    }
    m_mapData.clear();
    char buf[MAP_LINE_BUF_SIZE];
    for (int line = 1; line <= MAP_FILE_ROW_NUMS; ++line) {
        m_mapData.emplace_back(MAP_FILE_COL_NUMS, '\0');
        if (!ReadTextLine(file, buf, sizeof buf) || strlen(buf) < MAP_FILE_COL_NUMS) {
            LOG_ERR("Read map file err at line : %d\n", line);
            fclose(file);
            return false;
        }
        std::copy(buf, buf + MAP_FILE_COL_NUMS, m_mapData.back().begin());
    }
    fclose(file);
    return Load(m_mapData);
}

bool Map::Load(std::vector<std::vector<char>>& rows) {
    ++m_uLoadSerial;
    if (&rows != &m_mapData) m_mapData = rows;
    HARD_ASSERT(m_mapData.size() == MAP_FILE_ROW_NUMS);
    HARD_ASSERT(AllRowsHaveLength(m_mapData, MAP_FILE_COL_NUMS));

    const MapCheck check = CheckRows(m_mapData);
    switch (check.fault) {
        case MapCheck::ROBOT_SPACE:
            LOG_ERR("Check robot pos err, there's not enough space at map file[row:%d, col:%d]\n", check.row + 1,
                    check.col + 1);
            return false;
        case MapCheck::UNKNOWN_CHAR:
            LOG_ERR("Unknown character :'%c' at map file[%d:%d]\n", check.ch, check.row + 1, check.col + 1);
            return false;
        case MapCheck::TOO_MANY_WORKBENCHES:
            LOG_ERR("Check workbenchNums(%d) <= 50 err.\n", check.workbenchNums);
            return false;
        case MapCheck::NONE:
            break;
    }

    m_iWidth = static_cast<int32_t>(m_mapData[0].size());
    m_iHeight = static_cast<int32_t>(m_mapData.size());
    BuildPosListAndGrid();
    BuildSegments();
    BuildSegmentLengths();
    ShouldBeTrue(GetGridSize() == MAP_SIZE / m_iWidth, "grid height is not same with width");
    InitBitTables();
    return true;
}

void Map::BuildPosListAndGrid() {
    // A map is loaded once per match; starting the lists afresh keeps a
    // second load from listing every cell twice.
    for (std::vector<b2Vec2>& list : m_posList) list.clear();
    m_grid.assign(m_iWidth, std::vector<char>(m_iHeight, '\0'));
    for (int r = 0; r < m_iHeight; ++r) {
        for (int c = 0; c < static_cast<int>(m_mapData[r].size()); ++c) {
            const char ch = m_mapData[r][c];
            m_posList[static_cast<unsigned char>(ch)].push_back(CellCentre(r, c, m_iWidth, m_iHeight));
            m_grid[c][m_iHeight - 1 - r] = ch;
        }
    }
}

void Map::BuildSegments() {
    const int W = m_iWidth;
    const int H = m_iHeight;
    m_segments = {{0, 0, W, 0}, {W, 0, W, H}, {W, H, 0, H}, {0, H, 0, 0}};
    const EdgeMarks marks = MarkObstacleSides(m_grid, W, H);
    for (int j = 0; j <= H; ++j) {
        ForEachRun(
            W, [&](int x) { return marks.horiz.Get(x, j); },
            [&](int x, int e) { m_segments.push_back({x, j, e, j}); });
    }
    for (int i = 0; i <= W; ++i) {
        ForEachRun(
            H, [&](int y) { return marks.vert.Get(y, i); },
            [&](int y, int e) { m_segments.push_back({i, y, i, e}); });
    }
}

void Map::BuildSegmentLengths() {
    m_segLen.resize(m_segments.size());
    for (size_t k = 0; k < m_segments.size(); ++k) {
        const MapSegment& s = m_segments[k];
        const double dx = s.x1 - s.x2;
        const double dy = s.y1 - s.y2;
        m_segLen[k] = sqrt(dx * dx + dy * dy);
    }
}

float Map::GetGridSize() const { return MAP_SIZE / static_cast<float>(m_mapData.size()); }

b2Vec2 Map::GetCellCentre(int row, int col) const { return CellCentre(row, col, m_iWidth, m_iHeight); }

const std::vector<b2Vec2>& Map::GetPosList(char c) const {
    static const std::vector<b2Vec2> s_none;
    const unsigned char code = static_cast<unsigned char>(c);
    return code < m_posList.size() ? m_posList[code] : s_none;
}

// ------------------------------------------------------------ lidar

float Map::CellSizeX() const { return MAP_SIZE / static_cast<float>(m_mapData[0].size()); }

float Map::CellSizeY() const { return MAP_SIZE / static_cast<float>(m_mapData.size()); }

bool Map::IsInMap(double x, double y) const {
    return Sgn(x) >= 0 && Sgn(static_cast<double>(m_iWidth) - x) >= 0 && Sgn(y) >= 0 &&
           Sgn(static_cast<double>(m_iHeight) - y) >= 0;
}

double Map::RaySegmentDistance(double px, double py, double dx, double dy, int32_t ax, int32_t ay, int32_t bx,
                               int32_t by) {
    const double uAx = ax - px;
    const double uAy = ay - py;
    const double uBx = bx - px;
    const double uBy = by - py;
    const double sA = (dx * uAy - dy * uAx) / sqrt(uAx * uAx + uAy * uAy);
    const double sB = (dx * uBy - dy * uBx) / sqrt(uBx * uBx + uBy * uBy);
    if (Sgn(sA) * Sgn(sB) > 0) return NO_HIT;

    const double num = (ay * px - ax * py) - (by * px - bx * py) + static_cast<double>(ax * by - bx * ay);
    const double den = static_cast<double>(ax - bx) * dy + static_cast<double>(by - ay) * dx;
    if (Sgn(num) == 0) {
        const double pA = uAy * dy + uAx * dx;
        const double pB = uBy * dy + uBx * dx;
        if (Sgn(pA) * Sgn(pB) <= 0) return 0;
        if (pA > EPS) return std::min(pA, pB);
        return NO_HIT;
    }
    if (Sgn(den) == 0) return NO_HIT;
    const double t = num / den;
    if (t > EPS) return t;
    if (t < -EPS) return NO_HIT;
    return t;
}

double Map::RayRobotDistance(double px, double py, double c, double s, const RadarObstacle& obstacle, float cellX,
                             float cellY) {
    return BeamObstacleDistance(OffsetOf(px, py, obstacle, cellX, cellY), c, s);
}

std::vector<float> Map::ScanRadarReference(b2Vec2 pos, float heading,
                                           const std::vector<RadarObstacle>& obstacles) const {
    std::vector<float> result(RADAR_BEAM_NUMS, 0.0f);
    const float cellX = CellSizeX();
    const float cellY = CellSizeY();
    const double px = pos.x / cellX;
    const double py = pos.y / cellY;
    const std::vector<ObstacleOffset> offsets = OffsetsOf(px, py, obstacles, cellX, cellY);
    for (int i = 0; i < RADAR_BEAM_NUMS; ++i) {
        const double angle = BeamAngle(i, heading);
        const double c = cos(angle);
        const double s = sin(angle);
        ShouldBeTrue(IsInMap(px, py), "the input of robot is out of map");
        double best = NO_HIT;
        for (const MapSegment& seg : m_segments) {
            const double d = RaySegmentDistance(px, py, c, s, seg.x1, seg.y1, seg.x2, seg.y2);
            if (!(d > best)) best = d;
        }
        ShouldBeTrue(IsInMap(best * c + px, best * s + py), "the radar to obstacle is out of map");
        result[i] = BeamReading(best, c, s, offsets, cellY);
    }
    return result;
}

std::vector<SegmentRange> Map::BuildRanges(double px, double py) const {
    std::vector<SegmentRange> ranges;
    ranges.reserve(m_segments.size());
    for (size_t k = 0; k < m_segments.size(); ++k) {
        const MapSegment& seg = m_segments[k];
        const double len = m_segLen[k];
        const double dA = sqrt((seg.x1 - px) * (seg.x1 - px) + (seg.y1 - py) * (seg.y1 - py));
        const double dB = sqrt((seg.x2 - px) * (seg.x2 - px) + (seg.y2 - py) * (seg.y2 - py));
        double near = std::min(dA, dB);
        const double far = std::max(dA, dB);
        const double ex = seg.x2 - seg.x1;
        const double ey = seg.y2 - seg.y1;
        const double t = (ex * (px - seg.x1) + ey * (py - seg.y1)) / len;
        if (Sgn(t) >= 0 && t - len <= EPS) {
            const double perp = std::fabs(ey * (px - seg.x1) - ex * (py - seg.y1)) / len;
            near = std::min(near, perp);
        }
        ranges.push_back({seg.x1, seg.y1, seg.x2, seg.y2, near, far});
    }
    return ranges;
}

std::vector<float> Map::ScanRadar(b2Vec2 pos, float heading, const std::vector<RadarObstacle>& obstacles) const {
    const float cellX = CellSizeX();
    const float cellY = CellSizeY();
    const double px = pos.x / cellX;
    const double py = pos.y / cellY;

    std::vector<SegmentRange> ranges = BuildRanges(px, py);
    // The ordering treats ranges within EPS as equal, which is not a strict
    // weak order in every corner case; a merge sort stays within bounds
    // whatever the comparator says.
    std::stable_sort(ranges.begin(), ranges.end(), RangeBefore);

    BeamTable beams(heading);
    MeetRanges(ranges, px, py, ReducedHeading(heading), beams);

    const std::vector<ObstacleOffset> offsets = OffsetsOf(px, py, obstacles, cellX, cellY);
    std::vector<float> result(RADAR_BEAM_NUMS, 0.0f);
    for (int j = 0; j < RADAR_BEAM_NUMS; ++j) result[j] = BeamReading(beams.best[j], beams.cos[j], beams.sin[j], offsets, cellY);
    return result;
}

void Map::InitBitTables() {
    for (int i = 0; i < 32; ++i) {
        s_bitIndexMod37[(1u << i) % 37] = i;
        s_lowMasks[i] = (i == 0 ? 0u : s_lowMasks[i - 1]) | (1u << i);
        s_highMasks[i] = 0xFFFFFFFFu << i;
    }
}

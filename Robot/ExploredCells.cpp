#include "ExploredCells.h"

#include <cmath>

#include "Robot.h"
#include "Shortcuts.h"

namespace {

using MapRows = std::vector<std::vector<char>>;

constexpr float RADAR_SAMPLE_STEP = 0.2f;  // metres between a beam's samples

// The rule for the cell of a sample: it may be marked when it is inside the
// map's rows and not a wall.
bool MayMarkCell(const MapRows& rows, int row, int col) {
    const size_t r = static_cast<size_t>(row);
    const size_t c = static_cast<size_t>(col);
    return r < rows.size() && c < rows[r].size() && rows[r][c] != '#';
}

// ---------------------------------------------------------------- the samples of four beams

// Samples of a beam placed before their cells are looked at, so that the
// placing runs without a branch per sample.
constexpr int SAMPLE_CHUNK = 512;

// Every cell of the grid: what the marking of a single robot starts from.
struct AllCells {
    MarkableCells cells = {};
    constexpr AllCells() {
        for (int row = 0; row < MAP_SIDE_CELLS; ++row) {
            for (int col = 0; col < MAP_SIDE_CELLS; ++col) cells[1 + (row << CELL_ROW_SHIFT) + col] = 1;
        }
    }
};
constexpr AllCells ALL_CELLS;

// Four beams' sample points, one beam per lane.
constexpr int SAMPLE_LANES = 4;
using FloatLanes = float __attribute__((vector_size(4 * SAMPLE_LANES)));
using IntLanes = int32_t __attribute__((vector_size(4 * SAMPLE_LANES)));

// Walks the beams from (x, y) by their steps while the distance stays below
// each beam's length, marking the cells of the sample points; true when a
// cell was seen for the first time.  The points are running sums, as they
// have always been placed; a point is given as twice its column and row
// coordinates, and the cut toward zero puts points just outside the left or
// top edge into column or row 0.  The points are placed a chunk at a time
// before their cells are looked at, so that the placing runs without a
// branch per point.
bool MarkBeamSamples(ExploredCells& explored, const MapRows& rows, const MarkableCells& markable, FloatLanes x,
                     FloatLanes y, FloatLanes stepX, FloatLanes stepY, FloatLanes len) {
    const float grid = static_cast<float>(MAP_SIDE_CELLS);
    IntLanes cells[SAMPLE_CHUNK];
    bool marked = false;
    float d = 0.0f;
    for (;;) {
        int count = 0;
        for (; count < SAMPLE_CHUNK; ++count, d = d + RADAR_SAMPLE_STEP) {
            const IntLanes active = len > d;
            if (!(active[0] | active[1] | active[2] | active[3])) break;
            const FloatLanes colPos = x + x;
            const FloatLanes rowPos = (MAP_SIZE - y) + (MAP_SIZE - y);
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
                if (explored.IsSeen(row, col)) continue;
                if (MayMarkCell(rows, row, col) && explored.Mark(row, col)) marked = true;
            }
        }
        if (count < SAMPLE_CHUNK) return marked;
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

int SeenCount(const ExploredCells& explored) {
    int count = 0;
    for (int row = 0; row < MAP_SIDE_CELLS; ++row) {
        for (int word = 0; word < 2; ++word) count += __builtin_popcountll(explored.SeenBits(row, word));
    }
    return count;
}

bool IsCellToMark(const ExploredCells& explored, const MapRows& rows, int row, int col) {
    if (!MayMarkCell(rows, row, col)) return false;
    return ((explored.SeenBits(row, col / 64) >> (col % 64)) & 1) == 0;
}

uint8_t NearerOf(uint8_t current, uint8_t neighbour) {
    return neighbour < current - 1 ? static_cast<uint8_t>(neighbour + 1) : current;
}

// The distance along rows or columns, in two sweeps over the grid.
void FillClearance(const ExploredCells& explored, const MapRows& rows, CellClearance& clearance,
                   MarkableCells& markable) {
    for (int row = 0; row < MAP_SIDE_CELLS; ++row) {
        for (int col = 0; col < MAP_SIDE_CELLS; ++col) {
            const bool toMark = IsCellToMark(explored, rows, row, col);
            clearance[row][col] = toMark ? 0 : CLEARANCE_CAP;
            markable[1 + (row << CELL_ROW_SHIFT) + col] = toMark ? 1 : 0;
        }
    }
    constexpr int LAST = MAP_SIDE_CELLS - 1;
    for (int row = 0; row < MAP_SIDE_CELLS; ++row) {
        for (int col = 0; col < MAP_SIDE_CELLS; ++col) {
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
    if (shifted >= SHIFT + MAP_SIDE_CELLS - 1) return MAP_SIDE_CELLS - 1;
    return static_cast<int>(shifted) - static_cast<int>(SHIFT);
}

// Whether the beam from (x, y) along (dirX, dirY) (a unit vector), len
// long, may mark a cell not seen yet.
bool BeamMayMarkNewCell(const CellClearance& clearance, float x, float y, double dirX, double dirY, float len) {
    if (!(len > 0.0f)) return false;  // not even the first sample
    if (!(len <= CHECKED_LEN_LIMIT)) return true;
    // Grid coordinates: columns from x, rows down from the top edge.
    const double col = 2.0 * static_cast<double>(x);
    const double row = 2.0 * (static_cast<double>(MAP_SIZE) - static_cast<double>(y));
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

// ---------------------------------------------------------------- the grid

ExploredCells::ExploredCells() { Clear(); }

void ExploredCells::CopyTo(uint8_t out[MAP_SIDE_CELLS][MAP_SIDE_CELLS]) const {
    for (int row = 0; row < MAP_SIDE_CELLS; ++row) {
        for (int col = 0; col < MAP_SIDE_CELLS; ++col) out[row][col] = m_cells[row][col].load(std::memory_order_relaxed);
    }
}

void ExploredCells::Clear() {
    for (auto& row : m_cells) {
        for (std::atomic<uint8_t>& cell : row) cell.store(0, std::memory_order_relaxed);
    }
    for (auto& row : m_bits) {
        for (std::atomic<uint64_t>& word : row) word.store(0, std::memory_order_relaxed);
    }
    // The count of cells seen may come back to the one the clearance was
    // worked out from: it is worked out anew.
    m_clearanceSource = ClearanceSource();
    m_bClearanceReady.store(false, std::memory_order_relaxed);
}

// ---------------------------------------------------------------- marking

bool ExploredCells::MarkBeams(const MapRows& rows, b2Vec2 pos, float angle, const std::vector<float>& readings,
                              bool skipClearBeams) {
    // Set right after the release, long before a scan is done, unless the
    // game thread lost its processor in between: then no beam is skipped,
    // which marks the same cells.
    skipClearBeams = TAKE_SHORTCUTS && skipClearBeams && m_bClearanceReady.load(std::memory_order_acquire);
    const CellClearance* clearance = skipClearBeams && CanSkipBeams(pos, angle) ? &m_clearance : nullptr;
    const MarkableCells& markable = skipClearBeams ? m_markable : ALL_CELLS.cells;
    const int n = static_cast<int>(readings.size());
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
    bool marked = false;
    for (int i = 0; i < n; ++i) {
        const bool skip = clearance && !BeamMayMarkNewCell(*clearance, pos.x, pos.y, dirX, dirY, readings[i]);
        const double nextX = dirX * turnCos - dirY * turnSin;
        dirY = dirX * turnSin + dirY * turnCos;
        dirX = nextX;
        if (skip) continue;
        // The body's own angle, not the wrapped heading, is the base here.
        const float a = NormalizeAngle(static_cast<float>(2 * i) * 3.1415927f / static_cast<float>(n) + angle);
        stepX[lane] = cosf(a) * RADAR_SAMPLE_STEP;
        stepY[lane] = sinf(a) * RADAR_SAMPLE_STEP;
        len[lane] = readings[i];
        if (++lane < SAMPLE_LANES) continue;
        if (MarkBeamSamples(*this, rows, markable, x, y, stepX, stepY, len)) marked = true;
        len = FloatLanes{};
        lane = 0;
    }
    if (lane > 0 && MarkBeamSamples(*this, rows, markable, x, y, stepX, stepY, len)) marked = true;
    return marked;
}

void ExploredCells::ComputeClearance(const Map& map) {
    if (!TAKE_SHORTCUTS) return;
    // Most frames find no new cell: the distances stay as they are.
    const ClearanceSource source{&map, map.GetLoadSerial(), SeenCount(*this)};
    ClearanceSource& last = m_clearanceSource;
    if (source.map != last.map || source.loadSerial != last.loadSerial || source.seenCount != last.seenCount) {
        last = source;
        FillClearance(*this, map.GetMapData(), m_clearance, m_markable);
    }
    m_bClearanceReady.store(true, std::memory_order_release);
}

void ExploredCells::DropClearance() { m_bClearanceReady.store(false, std::memory_order_relaxed); }

// ---------------------------------------------------------------- shade

bool GetCellShade(bool seenByFirst, bool seenBySecond, uint8_t rgba[4]) {
    if (seenByFirst && seenBySecond) return false;
    rgba[0] = seenByFirst ? 128 : 0;
    rgba[1] = 0;
    rgba[2] = seenBySecond ? 128 : 0;
    rgba[3] = (seenByFirst || seenBySecond) ? 64 : 128;
    return true;
}

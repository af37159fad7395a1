// The explored cells: each player's grid of the map cells that its robots'
// lidar has seen, the marking of a lidar's beams in it, and the shade that
// shows a cell by who has seen it, in the explored-cells image and in the
// window alike.
//
// The grid has MAP_SIDE_CELLS rows and columns, [row][column], row 0 the top
// row of the map; a cell once seen stays seen.  A beam marks the cells of
// its samples: from the robot's centre, one every 0.2 m (running sums in
// single precision) while the distance is below the beam's length, each on
// the cell it falls on (cut toward zero), unless that cell is outside the
// map's rows or a wall.
//
// Threads, by the phases of a frame that RadarWorkers.h tells:
// - The cells: marked by the threads that run the frame's marking tasks (the
//   lidar workers and the game thread), between the release and WaitMarks,
//   possibly by two at once: each cell is a relaxed atomic that is only ever
//   set, and so is each word of its bits, which only ever gain bits.  Read
//   by the game thread after WaitMarks (the window's copy, the image's bits),
//   and by ComputeClearance right after the release, while the marking may
//   already run: a cell it does not see marked yet is one more cell left to
//   mark, which changes no result.  Tests mark and read from any thread.
// - The clearance (how far each cell is from the cells still to mark):
//   written by the game thread in ComputeClearance right after the release
//   and published by a flag (release order); read by the marking threads
//   that see the flag (acquire).  WaitMarks takes the flag back through
//   DropClearance once every cell is marked.  A marking that does not see
//   the flag yet walks every beam, which marks the same cells.
// - Clear: a test's, while no marking runs.
#pragma once

#include <box2d/box2d.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "Map.h"

static_assert(MAP_SIDE_CELLS <= 128, "a row of seen bits fits in two words");

// A cell of the grid as one number, row << CELL_ROW_SHIFT | column, in the
// marking's tables; -1 for a sample outside the grid.
constexpr int CELL_ROW_SHIFT = 7;
static_assert(MAP_SIDE_CELLS <= (1 << CELL_ROW_SHIFT), "a column fits below the row");

// Per cell (its number plus one; 0 for a sample outside the grid), whether a
// sample there may mark it: at least every cell that is inside the map's
// rows, not a wall and not seen yet.
using MarkableCells = uint8_t[1 + (MAP_SIDE_CELLS << CELL_ROW_SHIFT)];

// Per cell, the distance (in cells, along rows or columns, whichever is
// more) to the nearest cell still to be marked, up to 255.
using CellClearance = uint8_t[MAP_SIDE_CELLS][MAP_SIDE_CELLS];

// One player's explored cells.
class ExploredCells {
public:
    ExploredCells();  // nothing seen
    ExploredCells(const ExploredCells&) = delete;
    ExploredCells& operator=(const ExploredCells&) = delete;

    // Marks the cell; true when it had not been seen before.
    bool Mark(int row, int col) {
        if (m_cells[row][col].load(std::memory_order_relaxed) != 0) return false;
        m_cells[row][col].store(1, std::memory_order_relaxed);
        m_bits[row][col / 64].fetch_or(uint64_t{1} << (col % 64), std::memory_order_relaxed);
        return true;
    }
    uint8_t IsSeen(int row, int col) const { return m_cells[row][col].load(std::memory_order_relaxed); }
    // The seen cells of a row as bits: bit col % 64 of word col / 64.
    uint64_t SeenBits(int row, int word) const { return m_bits[row][word].load(std::memory_order_relaxed); }
    // The cells as bytes, 1 for seen.
    void CopyTo(uint8_t out[MAP_SIDE_CELLS][MAP_SIDE_CELLS]) const;
    // Forgets every cell seen, for a test: the system only ever adds cells.
    void Clear();

    // Marks the cells along the beams of a lidar reading taken at pos, the
    // body's angle as the physics keeps it (not wrapped): beam i of n points
    // at angle + 2πi/n and is readings[i] long.  With skipClearBeams, beams
    // that cannot reach a cell still to be marked, as ComputeClearance found
    // the cells, are left out.  True when a cell was seen for the first time.
    bool MarkBeams(const std::vector<std::vector<char>>& rows, b2Vec2 pos, float angle,
                   const std::vector<float>& readings, bool skipClearBeams);

    // The game thread's part of the marking, once a frame after the
    // release: how far each cell is from the cells still to be marked; and
    // its end, once the frame's cells are marked.
    void ComputeClearance(const Map& map);
    void DropClearance();

private:
    // What the clearance was worked out from: the map, its load and the
    // number of cells seen, which only ever grows (but for Clear).
    struct ClearanceSource {
        const void* map = nullptr;
        uint32_t loadSerial = 0;
        int seenCount = -1;
    };

    std::atomic<uint8_t> m_cells[MAP_SIDE_CELLS][MAP_SIDE_CELLS];
    std::atomic<uint64_t> m_bits[MAP_SIDE_CELLS][2];
    CellClearance m_clearance = {};
    MarkableCells m_markable = {};
    ClearanceSource m_clearanceSource;
    std::atomic<bool> m_bClearanceReady{false};
};

// The shade of an explored cell by who has seen it, as red, green, blue and
// alpha; false when the cell stays clear (seen by both), and rgba is left
// as it is.
bool GetCellShade(bool seenByFirst, bool seenBySecond, uint8_t rgba[4]);

// The loaded map: its rows, the cell centres by character, the obstacle
// outline as edge segments, and the two lidar scans that cast beams against
// that outline and against the other robots.
//
// Threads: Load runs once on the main thread at start-up, before the system
// starts any thread of its own.  Afterwards the Map is read only, without
// locks, by the game thread, the four lidar workers (ScanRadar and
// ScanRadarReference keep all their working data in the call) and the
// display's render callback.  The static bit tables are written only by
// InitBitTables during the load.
#pragma once

#include <box2d/box2d.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

constexpr float MAP_SIZE = 50.0f;       // side of the arena, metres
constexpr int MAP_SIDE_CELLS = 100;     // cells along each side of the arena, 0.5 m each
constexpr int MAP_FILE_ROW_NUMS = MAP_SIDE_CELLS;  // rows of a map file, one a row of cells
constexpr int RADAR_BEAM_NUMS = 360;    // one lidar beam per degree

// acos(-1.0), set during static initialisation.
extern double PI;

// Does nothing when the condition holds; otherwise writes the message and a
// line end to standard error and stops the program.
void ShouldBeTrue(bool condition, const char* message);

// One axis-parallel edge of the obstacle outline or of the arena border, in
// cell-corner units with y counted from the bottom.  Horizontal edges run
// from smaller to larger x, vertical ones from smaller to larger y.
struct MapSegment {
    int32_t x1;
    int32_t y1;
    int32_t x2;
    int32_t y2;
};

// Another robot as the lidar sees it: a circle of ROBOT_CARRY_RADIUS when it
// carries a product, of ROBOT_RADIUS otherwise.
struct RadarObstacle {
    float x;          // centre, metres
    float y;          // centre, metres
    int32_t product;  // carried product id, 0 for none
};

// The fast scan's view of one segment from the scanning robot (cells).
struct SegmentRange {
    int32_t ax;
    int32_t ay;
    int32_t bx;
    int32_t by;
    double near;  // distance to the nearest point of the segment
    double far;   // distance to the farther end point
};

// The beams still open for one range: beam j is bit j % 32 of word j / 32;
// bits 8 to 31 of the last word stand for no beam and stay 0.
struct BeamMask {
    uint32_t words[12];
};

class Map {
public:
    // Reads the map file's first 100 lines and loads them; false (after an
    // ERR line) when the file cannot be opened or read or the map is invalid.
    bool Load(const std::string& path);
    // Checks 100 rows of 100 characters and builds everything derived from
    // them; false after an ERR line when the map is invalid.
    bool Load(std::vector<std::vector<char>>& rows);

    // The cell size in metres: 50 divided by the number of rows.
    float GetGridSize() const;

    // The centre in metres of the cell in row (from the top) and column;
    // valid after a successful load.
    b2Vec2 GetCellCentre(int row, int col) const;

    const std::vector<std::vector<char>>& GetMapData() const { return m_mapData; }
    // The centres of all cells holding c, in scan order; empty for a
    // character that is not in the map.
    const std::vector<b2Vec2>& GetPosList(char c) const;
    int GetWidth() const { return m_iWidth; }
    int GetHeight() const { return m_iHeight; }
    // The border segments, then the obstacle edges; m_segLen at the same index.
    const std::vector<MapSegment>& GetSegments() const { return m_segments; }
    const std::vector<double>& GetSegLen() const { return m_segLen; }

    // The 360 lidar readings (metres) of a robot centred at pos (metres)
    // with the heading (radians, any value): beam i points at heading + i
    // degrees, counter-clockwise.  obstacles holds the other robots, never
    // the scanning one.  ScanRadar is the fast form used every frame; it
    // gives +infinity on beams that meet nothing (a robot outside the map).
    // ScanRadarReference tests every beam against everything and stops the
    // program for a robot outside the map.
    std::vector<float> ScanRadar(b2Vec2 pos, float heading, const std::vector<RadarObstacle>& obstacles) const;
    std::vector<float> ScanRadarReference(b2Vec2 pos, float heading,
                                          const std::vector<RadarObstacle>& obstacles) const;

    // Distance (cells) along the ray from (px, py) with unit direction
    // (dx, dy) to the segment A-B, or 1e100 when the ray does not meet it.
    // An end point within 1e-8 (as a sine) of the ray's line counts as on
    // it; the distance is then to the segment's line, which for a segment
    // nearly in line with the ray may lie well beyond the segment itself.
    static double RaySegmentDistance(double px, double py, double dx, double dy, int32_t ax, int32_t ay, int32_t bx,
                                     int32_t by);
    // Distance (cells) along the beam from (px, py) with direction (c, s) to
    // the circle of the obstacle, 0 when (px, py) lies inside a circle that
    // is not behind, 1e100 when the beam does not see it.
    static double RayRobotDistance(double px, double py, double c, double s, const RadarObstacle& obstacle,
                                   float cellX, float cellY);

    // Fills the fast scan's bit tables; called by Load, idempotent.
    static void InitBitTables();
    // Entry (1 << i) % 37 holds i; 0, 7, 14, 19 and 28 are unused.
    static int32_t s_bitIndexMod37[37];
    // Entry i has bits 0..i set / bits i..31 set.
    static uint32_t s_lowMasks[32];
    static uint32_t s_highMasks[32];

    // Raised by every Load of rows, successful or not: lets a reader tell
    // that what it derived from the map may be out of date.
    uint32_t GetLoadSerial() const { return m_uLoadSerial; }

private:
    void BuildPosListAndGrid();
    void BuildSegments();
    void BuildSegmentLengths();
    float CellSizeX() const;
    float CellSizeY() const;
    bool IsInMap(double x, double y) const;
    std::vector<SegmentRange> BuildRanges(double px, double py) const;

    std::array<std::vector<b2Vec2>, 128> m_posList;
    std::vector<std::vector<char>> m_mapData;
    std::vector<std::vector<char>> m_grid;  // m_grid[x][y], y from the bottom
    int32_t m_iWidth = 0;
    int32_t m_iHeight = 0;
    std::vector<MapSegment> m_segments;
    std::vector<double> m_segLen;
    uint32_t m_uLoadSerial = 0;
};

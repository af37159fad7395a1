// The loaded map: its rows, the cell centres by character, and the obstacle
// outline as edge segments for the lidar.
//
// Threads: loaded once on the main thread at start-up; read only, without
// locks, afterwards by the game thread, the lidar workers and the display.
#pragma once

#include <box2d/box2d.h>

#include <string>
#include <vector>

constexpr int MAP_FILE_ROW_NUMS = 100;
constexpr float MAP_SIZE = 50.0f;

extern double PI;

// Stops the program with the message when the condition does not hold.
void ShouldBeTrue(bool condition, const char* message);

class Map {
public:
    bool Load(const std::string& path);
    bool Load(std::vector<std::vector<char>>& rows);

    // The centre in metres of the cell in row (from the top) and column.
    b2Vec2 GetCellCentre(int row, int col) const;

    const std::vector<std::vector<char>>& GetMapData() const { return m_mapData; }

private:
    std::vector<std::vector<char>> m_mapData;
};

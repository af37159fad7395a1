// Shared by the world, robot and lidar-worker tests: float bit patterns, the
// fixture maps, and log lines captured from standard error.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "Game.h"
#include "Log.h"
#include "TestSupport.h"

inline std::string FixtureMapPath(const char* name) { return std::string(SOURCE_DIR) + "/tests/maps/" + name; }

// 100 rows of 100 empty cells, to be drawn on and given to Map::Load.
inline std::vector<std::vector<char>> EmptyMapRows() {
    return std::vector<std::vector<char>>(100, std::vector<char>(100, '.'));
}


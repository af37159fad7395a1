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

// The game of this test program, set up once, quietly: the map, then both
// players with their robots (the first player's start the lidar workers).
inline void InitGameOnceWithMap(const std::string& mapPath) {
    static bool s_done = false;
    if (s_done) return;
    s_done = true;
    LogCapture quiet(LOG_LEVEL_NONE);
    ASSERT_TRUE(Game::GetInstance()->Init(mapPath)) << mapPath;
    Game::GetInstance()->GetPlayer(0).Init(0);
    Game::GetInstance()->GetPlayer(1).Init(1);
}

// 100 rows of 100 empty cells, to be drawn on and given to Map::Load.
inline std::vector<std::vector<char>> EmptyMapRows() {
    return std::vector<std::vector<char>>(100, std::vector<char>(100, '.'));
}


// Faults the fuzz targets (fuzz/) ran into, each pinned by the smallest
// input that shows it.
#include <gtest/gtest.h>

#include <string>

#include "Map.h"

namespace {

const std::string TRADE_MAP = std::string(SOURCE_DIR) + "/fuzz/maps/trade.txt";

}  // namespace

// fuzz_cmdline's memory grew with every Game::Init of a fixture map: a Map
// loaded again kept the cell lists of the earlier load and appended the new
// ones, so that the map then seemed to hold eight robot cells per player.
TEST(FuzzRegression, MapLoadedTwiceListsEachCellOnce) {
    Map map;
    ASSERT_TRUE(map.Load(TRADE_MAP));
    ASSERT_EQ(map.GetPosList('A').size(), 4u);
    const size_t freeCells = map.GetPosList('.').size();

    ASSERT_TRUE(map.Load(TRADE_MAP));
    EXPECT_EQ(map.GetPosList('A').size(), 4u);
    EXPECT_EQ(map.GetPosList('B').size(), 4u);
    EXPECT_EQ(map.GetPosList('1').size(), 1u);
    EXPECT_EQ(map.GetPosList('.').size(), freeCells);
}

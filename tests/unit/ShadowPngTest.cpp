// The explored-cells image: both players' grids encoded by the game's
// encoder, decoded again with libpng.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Game.h"
#include "ReplayTestSupport.h"
#include "ShadowImage.h"

namespace {

constexpr int CELLS = 100;

std::string EncodedImage() { return std::string(reinterpret_cast<const char*>(g_PNGData), g_PNGDataLen); }

struct Chunk {
    std::string type;
    std::string data;
};

std::vector<Chunk> Chunks(const std::string& png) {
    std::vector<Chunk> chunks;
    size_t pos = 8;  // signature
    while (pos + 12 <= png.size()) {
        const auto* b = reinterpret_cast<const unsigned char*>(png.data() + pos);
        const uint32_t len = (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
        if (pos + 12 + len > png.size()) break;
        chunks.push_back({png.substr(pos + 4, 4), png.substr(pos + 8, len)});
        pos += 12 + len;
    }
    return chunks;
}

// The grids are the game's own players'; cells only ever become explored.
Player& First() { return Game::GetInstance()->GetPlayer(0); }
Player& Second() { return Game::GetInstance()->GetPlayer(1); }

}  // namespace

TEST(ShadowPng, ImageOfTheGrids) {
    Game* game = Game::GetInstance();

    // Nothing explored yet.
    game->GenerateShadowPng();
    DecodedImage image = DecodePng(EncodedImage());
    ASSERT_TRUE(image.ok);
    EXPECT_EQ(image.width, 100u);
    EXPECT_EQ(image.height, 100u);
    for (int row = 0; row < CELLS; ++row)
        for (int col = 0; col < CELLS; ++col) ASSERT_EQ(image.At(row, col), UNEXPLORED) << row << "," << col;

    // The top-left corner by the first player only, the next cell by the
    // second only, the one after by both; the bottom-right corner by both.
    First().GetExploredCells().Mark(0, 0);
    Second().GetExploredCells().Mark(0, 1);
    First().GetExploredCells().Mark(0, 2);
    Second().GetExploredCells().Mark(0, 2);
    First().GetExploredCells().Mark(99, 99);
    Second().GetExploredCells().Mark(99, 99);
    First().GetExploredCells().Mark(37, 81);
    game->GenerateShadowPng();
    const std::string first = EncodedImage();
    image = DecodePng(first);
    ASSERT_TRUE(image.ok);
    struct Expect {
        int row, col;
        Rgba colour;
    };
    const Expect expects[] = {
        {0, 0, FIRST_ONLY},  {0, 1, SECOND_ONLY}, {0, 2, BOTH},       {0, 3, UNEXPLORED},
        {99, 99, BOTH},      {99, 0, UNEXPLORED}, {37, 81, FIRST_ONLY}, {81, 37, UNEXPLORED},
        {1, 0, UNEXPLORED},
    };
    for (const Expect& e : expects) EXPECT_EQ(image.At(e.row, e.col), e.colour) << e.row << "," << e.col;
    int explored = 0;
    for (int row = 0; row < CELLS; ++row)
        for (int col = 0; col < CELLS; ++col) explored += image.At(row, col) != UNEXPLORED;
    EXPECT_EQ(explored, 5);

    // The same grids encode to the same bytes, from an empty buffer each time.
    game->GenerateShadowPng();
    EXPECT_EQ(EncodedImage(), first);
}

TEST(ShadowPng, StandardChunksAtCompressionLevelNine) {
    Game::GetInstance()->GenerateShadowPng();
    const std::string png = EncodedImage();
    ASSERT_GT(png.size(), 8u);
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    const std::vector<Chunk> chunks = Chunks(png);
    std::string types;
    size_t total = 8;
    for (const Chunk& c : chunks) {
        if (!types.empty() && types.substr(types.size() - 4) == c.type) continue;  // several IDAT count once
        types += c.type;
    }
    for (const Chunk& c : chunks) total += 12 + c.data.size();
    EXPECT_EQ(types, "IHDRIDATIEND");
    EXPECT_EQ(total, png.size());
    ASSERT_FALSE(chunks.empty());
    const std::string& ihdr = chunks[0].data;
    // width 100, height 100, depth 8, RGBA, default compression and filter, no interlace
    EXPECT_EQ(ihdr, std::string("\0\0\0\x64\0\0\0\x64\x08\x06\0\0\0", 13));
    ASSERT_GE(chunks.size(), 2u);
    // The zlib stream's header names the level class: 0xDA is "maximum compression".
    ASSERT_GE(chunks[1].data.size(), 2u);
    EXPECT_EQ(static_cast<unsigned char>(chunks[1].data[0]), 0x78);
    EXPECT_EQ(static_cast<unsigned char>(chunks[1].data[1]), 0xDA);
}

TEST(ShadowPngDeathTest, WritingUpToTheBufferEndIsFatal) {
    unsigned char bytes[16] = {};
    g_PNGDataLen = static_cast<int32_t>(sizeof g_PNGData) - 16;
    EXPECT_DEATH(user_write_data(nullptr, bytes, 16), "g_PNGDataLen < sizeof g_PNGData");
    user_write_data(nullptr, bytes, 15);
    EXPECT_EQ(g_PNGDataLen, static_cast<int32_t>(sizeof g_PNGData) - 1);
    g_PNGDataLen = 0;
}

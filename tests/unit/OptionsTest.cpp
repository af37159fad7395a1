// Reading option texts.
#include <gtest/gtest.h>

#include "Game.h"

TEST(Options, LidarSwitchText) {
    struct Case {
        const char* text;
        uint32_t value;
    } cases[] = {
        {"0xFF", 0xFF},       {"255", 255},     {"0xF0", 0xF0},       {"240", 240},
        {"0XF0", 0xF0},       {"0x", 0},        {"077", 77},          {"0", 0},
        {"", 0},              {"abc", 0},       {"12abc", 12},        {"0x1g", 1},
        {"4294967295", 0xFFFFFFFFu},            {"4294967296", 0xFFFFFFFFu},
        {"0x100000000", 0xFFFFFFFFu},           {"99999999999999999999999", 0xFFFFFFFFu},
        // Negative numbers wrap modulo 2^32 as long as their magnitude fits.
        {"-5", 0xFFFFFFFBu},  {"-1", 0xFFFFFFFFu}, {"-0", 0},           {" \t-5", 0xFFFFFFFBu},
        {"-4294967295", 1},   {"-4294967296", 0xFFFFFFFFu},             {"-99999999999999999999999", 0xFFFFFFFFu},
        {"+7", 7},            {"0x-5", 0xFFFFFFFBu},                    {"0x-FFFFFFFF", 1},
        {"0x-100000000", 0xFFFFFFFFu},          {"- 5", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseLidarSwitch(c.text), c.value) << '"' << c.text << '"';
}

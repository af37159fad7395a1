// The referee and the plain referee, which takes none of its shortcuts
// (Robot/Shortcuts.h), play the same matches in debug and fast mode: their
// result lines, replay files and log lines must be the same, byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RunProcess.h"

namespace {

MatchRun Play(const std::string& referee, const std::string& player1, const std::string& player2) {
    return PlayWindowlessMatch(MakeTempDir("plain"), {referee, "-d", "-f"}, player1, player2);
}

struct MatchCase {
    const char* name;
    const char* player1;
    const char* player2;
};

// Moving robots find new cells and change their lidar every frame; standing
// ones repeat theirs; traders switch bodies, collide and earn money.
const MatchCase MATCHES[] = {
    {"circlers", "circler", "circler"},
    {"idlers", "idle", "idle"},
    {"traders", "trader", "trader"},
    {"trader against idle", "trader", "idle"},
};

}  // namespace

TEST(PlainPath, SameMatchesWithAndWithoutShortcuts) {
#ifndef ZVREF_PLAIN_PATH
    GTEST_SKIP() << "built without the plain referee (ZV_PLAIN_REFEREE)";
#else
    for (const MatchCase& match : MATCHES) {
        SCOPED_TRACE(match.name);
        const std::string player1 = std::string(PLAYER_DIR "/") + match.player1;
        const std::string player2 = std::string(PLAYER_DIR "/") + match.player2;
        const MatchRun fast = Play(ZVREF_PATH, player1, player2);
        const MatchRun plain = Play(ZVREF_PLAIN_PATH, player1, player2);
        ASSERT_EQ(fast.run.exitCode, 0) << fast.run.err;
        ASSERT_EQ(plain.run.exitCode, 0) << plain.run.err;
        EXPECT_NE(fast.run.out.find("\"status\":\"Successful\""), std::string::npos) << fast.run.out;
        EXPECT_EQ(fast.run.out, plain.run.out);
        EXPECT_EQ(fast.run.err, plain.run.err);
        EXPECT_FALSE(fast.replay.empty());
        EXPECT_TRUE(fast.replay == plain.replay) << "replays of " << fast.replay.size() << " and "
                                                 << plain.replay.size() << " bytes differ";
    }
#endif
}

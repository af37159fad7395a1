// Shared by the player and protocol tests: the game's two players on a small
// fixture map, the door into a player's private state, and log capture.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "Game.h"
#include "TestSupport.h"
#include "Log.h"
#include "Player.h"

// The test's way into a player's protocol state (a friend of Player).
class PlayerTestPeer {
public:
    static void SetStatus(Player& player, int32_t status) { player.m_iStatus = status; }
    static void Read(Player& player, const std::string& bytes) {
        player.HandleRead(bytes.data(), static_cast<uint32_t>(bytes.size()));
    }
    static void IoError(Player& player) { player.HandleIOError(); }
    static const std::string& PendingText(const Player& player) { return player.m_strReadBuf; }

    // Back to the state of a freshly started player: status 0, the start
    // money, nothing answered or buffered, robots without targets.
    static void Reset(Player& player) {
        player.m_iStatus = PLAYER_STATUS_STARTED;
        player.m_iMoney = PLAYER_INIT_MONEY;
        player.m_iAnsweredFrames = 0;
        player.m_strReadBuf.clear();
        for (Robot& robot : player.m_robots) {
            robot.m_fTargetSpeed = 0.0f;
            robot.m_fTargetRotate = 0.0f;
        }
    }
};

inline Player& GamePlayer(int index) { return Game::GetInstance()->GetPlayer(index); }

// Loads the map into the game and sets up both players, once per process
// (the first player's robots start the lidar workers).
inline void InitGameOnce(const char* mapName = "player_basic.txt") {
    static bool s_done = false;
    if (s_done) return;
    s_done = true;
    const std::string path = std::string(SOURCE_DIR) + "/tests/maps/" + mapName;
    ASSERT_TRUE(Game::GetInstance()->Init(path)) << path;
    GamePlayer(0).Init(0);
    GamePlayer(1).Init(1);
}

// Log lines captured from standard error, line numbers masked.
using StderrCapture = LogCapture;

// One log line as the referee writes it at frame 1, with the line number "L".
inline std::string LogLine(const char* tag, const char* file, const char* func, const std::string& message) {
    return ExpectedLogLine(tag, file, func, message + "\n");
}

// Shared by the player and protocol tests: the game's two players on a small
// fixture map, the door into a player's private state, and log capture.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "Game.h"
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

// Standard error captured at a log level; line numbers in the text read "L",
// so that whole lines can be compared.
class StderrCapture {
public:
    explicit StderrCapture(int level = LOG_LEVEL_INFO) : m_savedLevel(g_logLevel) {
        g_logLevel = level;
        testing::internal::CaptureStderr();
    }
    ~StderrCapture() {
        if (!m_bTaken) testing::internal::GetCapturedStderr();
        g_logLevel = m_savedLevel;
    }
    std::string Take() {
        m_bTaken = true;
        return WithoutLineNumbers(testing::internal::GetCapturedStderr());
    }

    // "Robot/Player.cpp:123|" reads "Robot/Player.cpp:L|".
    static std::string WithoutLineNumbers(const std::string& text) {
        std::string out;
        size_t pos = 0;
        for (;;) {
            const size_t mark = text.find(".cpp:", pos);
            if (mark == std::string::npos) break;
            size_t end = mark + 5;
            while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
            const bool isLineNumber = end > mark + 5 && end < text.size() && text[end] == '|';
            out.append(text, pos, mark + 5 - pos);
            out += isLineNumber ? "L" : text.substr(mark + 5, end - mark - 5);
            pos = end;
        }
        return out + text.substr(pos);
    }

private:
    int m_savedLevel;
    bool m_bTaken = false;
};

// One log line as the referee writes it at frame 1, with the line number "L".
inline std::string LogLine(const char* tag, const char* file, const char* func, const std::string& message) {
    return std::string("[") + tag + "]" + file + ":L|" + func + "|frame[" +
           std::to_string(Game::GetInstance()->GetWorld().GetFrame()) + "]|" + message + "\n";
}

// One contestant: its program (through ProcessIO), money, protocol status,
// name, robots, workbenches and explored cells.
//
// Threads: everything but m_seen and m_lidarTexts belongs to one thread at a
// time, without locks: the main thread during start-up (Init, the handshake,
// a failed start), then the game thread, which runs the frame loop and the
// pipe completions (HandleRead, HandleIOError).  m_seen, the explored cells,
// is marked by the lidar tasks and read by the game thread as
// ExploredCells.h tells.  Each robot's entry of m_lidarTexts is written by
// the worker that scans the robot (in PrepareLidarLine) and read by the game
// thread once the scans are done.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "DataStream.h"
#include "ExploredCells.h"
#include "ProcessIO.h"
#include "Robot.h"
#include "Workbench.h"

constexpr int PLAYER_ROBOT_NUMS = 4;
constexpr int32_t PLAYER_INIT_MONEY = 200000;
constexpr int32_t SURVIVOR_MIN_MONEY = 1000000;  // the other player's money when one fails
constexpr size_t MAX_UNANSWERED_CHARS = 8192;    // text held without an "OK"

// Protocol status codes (m_iStatus).
constexpr int32_t PLAYER_STATUS_STARTED = 0;     // start text sent, first "OK" awaited
constexpr int32_t PLAYER_STATUS_READY = 1;       // is sent the next frame message
constexpr int32_t PLAYER_STATUS_FRAME_SENT = 2;  // the answer to a frame message is awaited
constexpr int32_t PLAYER_STATUS_FORMAT_ERR = 4;  // output format error: over
constexpr int32_t PLAYER_STATUS_RUNTIME_ERR = 5; // runtime error: over

// One command line of an answer.
struct PlayerCommand {
    std::string name;         // the command word
    std::vector<char*> args;  // the further words, pointing into the answer text
};

class Player : public ProcessIO {
public:
    Player();
    ~Player() override;

    // Start-up, main thread, right before Start: names the player if unnamed
    // and sets up its four robots on the map's "A" (index 0) or "B" cells.
    // A map without exactly four such cells ends the program (exit code -1).
    void Init(uint32_t playerId);
    // The player fails with status PLAYER_STATUS_FORMAT_ERR or
    // PLAYER_STATUS_RUNTIME_ERR: its money becomes 0, and the other player,
    // unless over too, gets at least 1000000.
    void PlayerCrash(int status);
    // Builds and writes the frame message when the status is
    // PLAYER_STATUS_READY (then PLAYER_STATUS_FRAME_SENT).  A write the pipe
    // refuses is a runtime error; a message too long for the stream is not
    // sent at all, and the status stays PLAYER_STATUS_READY.
    void WriteData();
    // The drive step of the four robots.
    void StepRobots();

    // Builds the frame message into the stream without writing it; the
    // stream holds the last message built.
    void BuildFrameMessage();
    // Formats robot id's lidar line ahead of the message, on the lidar
    // worker that has just scanned it: touches only that robot's line.
    void PrepareLidarLine(int id);
    const DataStream& GetStream() const { return m_stream; }

    // The text read as a decimal number, narrowed to float; a value that is
    // not a finite float is logged and read as 0.
    static float SafeAtoF(const char* text);

    std::string GetStatusText() const;
    int32_t GetMoney() const { return m_iMoney; }
    int32_t& MoneyRef() { return m_iMoney; }
    int32_t GetStatus() const { return m_iStatus; }
    int32_t GetAnsweredFrames() const { return m_iAnsweredFrames; }
    int32_t GetPlayerId() const { return m_iPlayerId; }
    const std::string& GetName() const { return m_strName; }
    void SetName(const std::string& name) { m_strName = name; }
    bool IsOver() const { return m_iStatus >= PLAYER_STATUS_FORMAT_ERR; }
    WorkbenchList& GetWorkbenches() { return m_workbenches; }
    const WorkbenchList& GetWorkbenches() const { return m_workbenches; }
    // id in 0 to 3.
    Robot& GetRobot(int id) { return m_robots[id]; }
    const Robot& GetRobot(int id) const { return m_robots[id]; }

    // The cells the player's robots have seen.
    ExploredCells& GetExploredCells() { return m_seen; }
    const ExploredCells& GetExploredCells() const { return m_seen; }

protected:
    // Writes "BLUE\nOK\n" (index 0) or "RED\nOK\n".
    void HandleStart() override;
    // Cuts the received text into answers at each "OK" (dropping the one
    // character after it) and runs them; a read of 0 bytes is a runtime
    // error, more than 8192 characters without an "OK" a format error.
    void HandleRead(const char* data, uint32_t len) override;
    void HandleIOError() override;

private:
    friend class PlayerTestPeer;

    // One answer, zero-terminated, without its "OK"; split in place.  False
    // for an output format error.
    bool ProcData(char* text);
    // The commands in line order; false at the first bad one.
    bool ControlRobot(const std::vector<PlayerCommand>& commands);
    // "sell", "buy" or "destroy" with the player's money.
    void Trade(Robot& robot, const std::string& word);
    void AddWorkbenchLines();
    void AddRobotLine(const Robot& robot);
    // The lidar line of robot id: the text of the last line again while the
    // readings keep their bit patterns (a robot standing still), else
    // formatted anew.
    void AddLidarLine(int id);
    void FormatLidarLine(const std::vector<float>& radar);

    ExploredCells m_seen;
    int32_t m_iMoney = PLAYER_INIT_MONEY;
    int32_t m_iAnsweredFrames = 0;
    int32_t m_iStatus = PLAYER_STATUS_STARTED;
    int32_t m_iPlayerId = -1;
    std::string m_strReadBuf;
    std::string m_strName;
    DataStream m_stream;
    Robot m_robots[PLAYER_ROBOT_NUMS];
    // Each robot's last lidar line whole (its fields all finite, none cut
    // off) and the readings it shows.
    struct LidarText {
        std::vector<float> radar;
        std::string text;
    };
    LidarText m_lidarTexts[PLAYER_ROBOT_NUMS];
    WorkbenchList m_workbenches;
};

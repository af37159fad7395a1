// One contestant: its program (through ProcessIO), money, protocol status,
// name, robots, workbenches and explored cells.
//
// Threads: the main thread during start-up, the game thread during the match
// (which also runs the pipe completions); m_seen is written by the lidar
// workers during the lidar phase of a frame.
#pragma once

#include <cstdint>
#include <string>

#include "ProcessIO.h"
#include "Workbench.h"

class Player : public ProcessIO {
public:
    Player();
    ~Player() override;

    void Init(uint32_t playerId);
    void PlayerCrash(int status);
    void WriteData();
    void StepRobots();

    std::string GetStatusText() const;
    int32_t GetMoney() const { return m_iMoney; }
    int32_t GetStatus() const { return m_iStatus; }
    int32_t GetAnsweredFrames() const { return m_iAnsweredFrames; }
    const std::string& GetName() const { return m_strName; }
    void SetName(const std::string& name) { m_strName = name; }
    bool IsOver() const { return m_iStatus >= 4; }
    WorkbenchList& GetWorkbenches() { return m_workbenches; }

protected:
    void HandleRead(const char* data, uint32_t len) override;
    void HandleIOError() override;

private:
    int32_t m_iMoney = 200000;
    int32_t m_iAnsweredFrames = 0;
    int32_t m_iStatus = 0;
    int32_t m_iPlayerId = -1;
    std::string m_strName;
    WorkbenchList m_workbenches;
};

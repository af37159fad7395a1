// The live window and the hand-over of snapshots from the game thread.
//
// Threads: Init and Run on the main thread; the pending-snapshot slot is
// shared by the game thread (publishes by exchange) and the main thread
// (takes by exchange); m_uLidarSwitch is written before the game thread starts.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

struct DisplayFrame;

class Display {
public:
    static Display* GetInstance();

    bool Init(int argc, char** argv);
    // Starts the game thread on entry, then serves the window; never returns.
    [[noreturn]] void Run(void (*entry)());

    void SetLidarSwitch(uint32_t lidarSwitch) { m_uLidarSwitch = lidarSwitch; }
    uint32_t GetLidarSwitch() const { return m_uLidarSwitch; }
    std::atomic<DisplayFrame*>& PendingFrame() { return m_pPendingFrame; }

private:
    Display() = default;

    std::unique_ptr<std::thread> m_pGameThread;
    std::atomic<DisplayFrame*> m_pPendingFrame{nullptr};
    uint32_t m_uLidarSwitch = 0xFF;
};

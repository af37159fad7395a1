// The match controller: one Game for the whole run, reached through
// Game::GetInstance.
//
// Threads: start-up (Run, Init, WaitForPlayerReady) runs on the main thread
// before the game thread exists; Loop, Step, RecordFrame, GenerateShadowPng
// and GameOver run on the game thread.  m_bStop is written by the window's
// close callback on the main thread and m_bShadowChanged by the lidar
// workers; both are atomic.  Explored-cells images are encoded on a thread
// of their own (ShadowImage.h), which sees only copies of the cells and gives
// back bytes.
// Everything else belongs to one thread at a time.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <string>

#include "Map.h"
#include "Platform.h"
#include "Player.h"
#include "Replay.pb.h"
#include "WaitPolicy.h"
#include "World.h"

constexpr int MAX_FRAME = 12000;  // last frame of a match
constexpr int FRAME_RATE = 50;    // frames per second
constexpr int PLAYER_NUMS = 2;
constexpr int64_t ANSWER_WINDOW_MS = 15;  // wait for answers after the frame messages
constexpr int64_t REANCHOR_GAP_MS = 30;   // a later frame start becomes the pacing anchor
// The longest spin for answers in a fast match, before the game thread
// blocks: players that answer at once take a few tens of microseconds.  The
// spin needs a processor for the game thread, one for each player and one
// for a lidar worker that marks cells meanwhile.
constexpr int64_t ANSWER_SPIN_US = 100;
constexpr int ANSWER_SPIN_PROCESSORS = 2 + PLAYER_NUMS;
// On a busy machine a fast match polls for answers this long, giving way
// to any thread that wants the processor, before it blocks.
constexpr int64_t BUSY_ANSWER_WAIT_US = 300;

// The millisecond clock: the high-resolution counter × 1000 / its frequency.
int64_t GetCurrentMs();

// The first value of the high-resolution counter at which GetCurrentMs reads ms.
int64_t CounterAtMs(int64_t ms);

// True when frame f may go on at time now against the pacing anchor:
// (f − anchorFrame) × 1000 ≤ (now − anchorMs) × FRAME_RATE, as unsigned 64-bit numbers.
bool IsFrameDue(uint64_t frame, uint64_t anchorFrame, uint64_t now, uint64_t anchorMs);

// Reads the -z text: "0x…"/"0X…" (at least 3 characters) as hexadecimal, anything
// else as decimal, the way a 32-bit strtoul reads it: too large for 32 bits
// gives 0xFFFFFFFF, a negative number wraps ("-5" gives 0xFFFFFFFB).
uint32_t ParseLidarSwitch(const char* text);

// Entry of the game thread: runs Game::Loop.
[[noreturn]] void GameThreadMain();

// One workbench's byte of a replay frame: bit 0 product ready, bits 1-3 the
// held materials packed by input slot, bits 4-7 the progress (15 when idle).
uint8_t WorkbenchFrameByte(const WorkbenchInfo& info);

class Game {
public:
    static Game* GetInstance();

    // Start-up on the main thread; the exit code when start-up stops before a match.
    int Run(int argc, char** argv);
    // Reads the options (getopt_long, GNU permutation); optind is left at the
    // first program path.
    enum OptionResult { OPTIONS_OK, OPTIONS_USAGE, OPTIONS_BAD_LEVEL };
    OptionResult ParseOptions(int argc, char** argv, std::string& mapPath);
    bool Init(const std::string& mapPath);
    bool WaitForPlayerReady();
    [[noreturn]] void Usage(const char* programName);

    // The game thread's frame loop and one frame of it.
    [[noreturn]] void Loop();
    void Step();
    // Writes the replay, logs the skipped frames, prints the result, ends the process.
    [[noreturn]] void GameOver();
    void PrintResult(const std::string& status);

    // Replay recording (game thread).  A frame that shows an explored-cells
    // image waits, with the frames after it, until its image is encoded; the
    // frames reach GetFrameRepData in order.
    void RecordFrame();
    // The explored-cells image of both players' cells, encoded by the
    // encoder of ShadowImage.h.  StartShadowEncoder starts the encoder's
    // thread, where the machine may use it; a match goes on without it when
    // the system gives no further thread.
    void StartShadowEncoder();
    // Encodes the image of the explored cells now, into g_PNGData.
    void GenerateShadowPng();
    // Hands the explored cells to the image encoder's thread and goes on;
    // where that thread cannot be started, encodes them now.
    void SubmitShadowPng();
    // A new image of the explored cells, by one of the two.
    void RenewShadowPng();
    void WriteToReplay();

    World& GetWorld() { return m_world; }
    Map& GetMap() { return m_map; }
    Player& GetPlayer(int index) { return m_players[index]; }
    replay_protocol::Rep& GetRep() { return m_rep; }
    const std::string& GetFrameRepData() const { return m_frameRepData; }

    void RequestStop() { m_bStop = true; }
    bool IsStopRequested() const { return m_bStop; }
    void MarkShadowChanged() { m_bShadowChanged.store(true, std::memory_order_relaxed); }
    bool IsShadowChanged() const { return m_bShadowChanged.load(std::memory_order_relaxed); }

    void SetFastMode(bool on) { m_bFastMode = on; }
    void SetDebugMode(bool on) { m_bDebugMode = on; }
    void SetReplayFile(const std::string& pattern) { m_replayFile = pattern; }

    // Pacing state, readable for tests of the frame loop.
    int64_t GetAnchorMs() const { return m_anchorMs; }
    int64_t GetAnchorFrame() const { return m_anchorFrame; }

private:
    Game() = default;
    void UpdatePacingAnchor(int64_t now, int frame);
    bool WaitForAnswers(int frame);
    // One poll; true when the answer wait is over (both answered or one over).
    bool PollForAnswers();
    // Whether a fast match, once its spin is over, polls for the answers a
    // while longer giving its processor way (BUSY_ANSWER_WAIT_US) before
    // it blocks: on a busy machine while the players answer at once.
    bool ShouldGiveWayForAnswers() const;
    // The time at which frame is due against the pacing anchor.
    int64_t DueMs(int frame) const;
    bool AnyPlayerOver() const;
    bool BothPlayersAnswered() const;
    void FillReplayHeader();
    // Whether the next image is encoded on the game thread rather than on
    // the encoder's.
    bool ShouldEncodeHere() const;
    // Appends the recorded frames whose images are ready, in order; with
    // wait, all of them.
    void FlushFrames(bool wait);

    World m_world;
    std::atomic<bool> m_bStop{false};
    bool m_bFastMode = false;
    bool m_bDebugMode = false;
    std::atomic<bool> m_bShadowChanged{false};
    int64_t m_lastFrameMs = 0;
    int64_t m_anchorMs = 0;
    int64_t m_anchorFrame = 0;
    std::string m_replayFile = "replay/%Y-%m-%d.%H.%M.%S.rep";
    Player m_players[PLAYER_NUMS];
    Map m_map;
    replay_protocol::Rep m_rep;
    std::string m_frameRepData;
    replay_protocol::Frame m_repFrame;  // reused: its parts keep their storage
    // Recorded frames not appended yet, each but for the image it shows
    // (-1: none), and the number of the latest image asked for.
    struct PendingFrame {
        std::string data;
        int image;
    };
    std::deque<PendingFrame> m_pendingFrames;
    int m_iLatestImage = -1;
    SpinPolicy m_answerSpin{ANSWER_SPIN_US, ANSWER_SPIN_PROCESSORS};
};

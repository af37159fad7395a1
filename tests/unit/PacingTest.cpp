// ctest-labels: threads
// The frame loop's pacing, answer window and modes, on a clock the test
// controls: every clock read advances it by a small step, so busy waits make
// progress and the frame start times are exact.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "Game.h"
#include "Platform.h"

namespace {

constexpr int64_t TICK_US = 100;  // each clock read moves the clock by 0.1 ms
std::atomic<int64_t> s_nowUs{1000000};
std::atomic<int64_t> s_stopAtUs{-1};

int64_t FakeCounter() {
    int64_t now = s_nowUs.fetch_add(TICK_US) + TICK_US;
    int64_t stopAt = s_stopAtUs.load();
    if (stopAt >= 0 && now >= stopAt) Game::GetInstance()->RequestStop();
    return now;
}

int64_t NowMs() { return s_nowUs.load() / 1000; }

class Pacing : public testing::Test {
protected:
    void SetUp() override {
        Game* game = Game::GetInstance();
        ASSERT_TRUE(game->Init(SOURCE_DIR "/tests/maps/game_empty.txt"));
        // Both players are set up but never started: neither ever answers, so
        // every frame spends its whole answer window polling.
        game->GetPlayer(0).Init(0);
        game->GetPlayer(1).Init(1);
        Platform::SetCounterForTest(FakeCounter);
    }
    void TearDown() override { Platform::SetCounterForTest(nullptr); }

    // Plays one frame as the loop does and returns the clock (ms) when it ended.
    int64_t PlayFrame() {
        Game* game = Game::GetInstance();
        game->Step();
        int64_t end = NowMs();
        game->GetWorld().Step();
        return end;
    }
};

}  // namespace

TEST(PacingRule, DueTimeAgainstTheAnchor) {
    struct Case {
        uint64_t frame, anchorFrame, now, anchorMs;
        bool due;
    } cases[] = {
        {7, 7, 500, 500, true},    // the anchor frame itself is always due
        {8, 7, 519, 500, false},   // 20 ms after the anchor frame
        {8, 7, 520, 500, true},
        {17, 7, 699, 500, false},  // frames are due on the anchor's grid, not after their predecessor
        {17, 7, 700, 500, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsFrameDue(c.frame, c.anchorFrame, c.now, c.anchorMs), c.due) << c.frame << " at " << c.now;
    }
}

TEST_F(Pacing, FramesArePacedTwentyMillisecondsApartOnTheAnchorGrid) {
    std::vector<int64_t> ends;
    for (int i = 0; i < 20; ++i) ends.push_back(PlayFrame());
    const int64_t anchor = Game::GetInstance()->GetAnchorMs();
    EXPECT_EQ(Game::GetInstance()->GetAnchorFrame(), 1);
    for (int i = 0; i < 20; ++i) {
        // Frame i+1 ends once its answer window is over and it is due.
        EXPECT_GE(ends[i], anchor + 20 * i) << "frame " << i + 1;
        EXPECT_LE(ends[i], anchor + 20 * i + 16) << "frame " << i + 1;
    }
    // In the steady state each frame ends exactly on its due time.
    EXPECT_EQ(ends[19] - ends[18], 20);
}

TEST_F(Pacing, APauseMovesTheAnchorWithoutCatchUpFrames) {
    for (int i = 0; i < 10; ++i) PlayFrame();
    s_nowUs += 100000;  // 100 ms between the starts of frames 10 and 11
    const int64_t pauseEnd = NowMs();
    std::vector<int64_t> ends;
    for (int i = 0; i < 10; ++i) ends.push_back(PlayFrame());
    EXPECT_EQ(Game::GetInstance()->GetAnchorFrame(), 11);
    const int64_t anchor = Game::GetInstance()->GetAnchorMs();
    EXPECT_GE(anchor, pauseEnd);
    for (int i = 1; i < 10; ++i) {
        // No burst: every frame after the pause still waits for its due time.
        EXPECT_GE(ends[i], anchor + 20 * i) << "frame " << 11 + i;
        EXPECT_GE(ends[i] - ends[i - 1], 15);
    }
}

TEST_F(Pacing, ShortDelaysAreMadeUpByLaterFrames) {
    for (int i = 0; i < 5; ++i) PlayFrame();
    // 8 ms late: frame 6 begins 28 ms after frame 5 began, within the re-anchoring gap.
    s_nowUs += 8000;
    std::vector<int64_t> ends;
    for (int i = 0; i < 5; ++i) ends.push_back(PlayFrame());
    EXPECT_EQ(Game::GetInstance()->GetAnchorFrame(), 1);
    const int64_t anchor = Game::GetInstance()->GetAnchorMs();
    // Frame 6 ends late, after its answer window; frame 7 is back on the grid.
    EXPECT_GT(ends[0], anchor + 20 * 5);
    EXPECT_EQ(ends[1], anchor + 20 * 6);
    EXPECT_EQ(ends[4], anchor + 20 * 9);
}

TEST_F(Pacing, FastModeDoesNotPace) {
    Game::GetInstance()->SetFastMode(true);
    std::vector<int64_t> ends;
    for (int i = 0; i < 10; ++i) ends.push_back(PlayFrame());
    for (int i = 1; i < 10; ++i) {
        // Only the 15 ms answer window of the silent players remains.
        EXPECT_GE(ends[i] - ends[i - 1], 15);
        EXPECT_LE(ends[i] - ends[i - 1], 16);
    }
}

TEST_F(Pacing, DebugModeWaitsWithoutLimit) {
    Game::GetInstance()->SetDebugMode(true);
    const int64_t start = NowMs();
    // A stop request (a closed window) is the only way out while no one answers.
    s_stopAtUs = s_nowUs.load() + 60 * 1000000ll;
    PlayFrame();
    EXPECT_GE(NowMs() - start, 60000);
}

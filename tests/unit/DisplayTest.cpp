// The window's drawing: the layout rules pinned as pure functions, and whole
// scenes of crafted snapshots drawn into a real window of this process
// (needs an X display; those tests are skipped without one) and read back.
#include <gtest/gtest.h>
#include <unistd.h>

#include <GL/freeglut.h>
#include <png.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Display.h"
#include "DisplayProbe.h"
#include "Game.h"
#include "RunProcess.h"

using probe::Rgb;

namespace {

WorkbenchInfo MakeInfo(float x, float y, int type, uint32_t need, uint32_t have, int ready, float progress) {
    WorkbenchInfo info{};
    info.x = x;
    info.y = y;
    info.type = type;
    info.remain = progress < 0.0f ? -1 : 100;
    info.needMask = need;
    info.haveMask = have;
    info.ready = ready;
    info.progress = progress;
    return info;
}

// ---------------------------------------------------------------- layout

TEST(TextLayout, GlyphsKeepTheirAspectAndTouchWithoutSpacing) {
    struct Case {
        const char* name;
        int widthPx, heightPx;
        float x, size, spacing;
        float halfWidth, halfHeight, secondX;
    };
    const Case cases[] = {
        // Glyphs 20 by 40 at size 6: 3 units wide, 6 tall; the second centred 3 to the right.
        {"text 10 of 20x40 glyphs", 20, 40, 0.0f, 6.0f, 0.0f, 1.5f, 3.0f, 3.0f},
        // The window's font (12 by 24) at the money size.
        {"money digits", 12, 24, -24.0f, 6.0f, 0.0f, 1.5f, 3.0f, -21.0f},
        // Workbench materials: size 0.7, gap 0.07 between the boxes.
        {"material digits", 12, 24, 0.0f, 0.7f, 0.1f, 12 * (0.7f * 0.5f) / 24, 0.35f,
         (0.7f * 0.1f + 12 * (0.7f * 0.5f) / 24) + 12 * (0.7f * 0.5f) / 24},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TextPen pen(c.x, c.size, c.spacing);
        GlyphPlacement first = pen.Place(c.widthPx, c.heightPx);
        GlyphPlacement second = pen.Place(c.widthPx, c.heightPx);
        EXPECT_EQ(first.x, c.x);
        EXPECT_EQ(first.halfWidth, c.halfWidth);
        EXPECT_EQ(first.halfHeight, c.halfHeight);
        EXPECT_FLOAT_EQ(second.x, c.secondX);
        EXPECT_EQ(second.halfWidth, c.halfWidth);
    }
}

TEST(TextLayout, PenAdvancesByEachGlyphsOwnWidth) {
    TextPen pen(1.0f, 4.0f, 0.0f);
    EXPECT_EQ(pen.Place(10, 40).x, 1.0f);  // half width 0.5
    EXPECT_EQ(pen.Place(20, 40).x, 2.5f);  // 1 + 0.5 + 1.0
    EXPECT_EQ(pen.Place(10, 40).x, 4.0f);  // 2.5 + 1.0 + 0.5
}

TEST(ProgressBar, FrameAndBlankPartFollowTheRatio) {
    struct Case {
        const char* name;
        float ratio;
        float blankLeft;
    };
    const Case cases[] = {
        {"empty: all white inside", 0.0f, 9.53f},
        {"half", 0.5f, 10.0f},
        {"full: no white left", 1.0f, 10.47f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProgressBarGeometry bar = GetProgressBarGeometry(10.0f, 20.0f, c.ratio);
        EXPECT_EQ(bar.outer.left, 9.5f);
        EXPECT_EQ(bar.outer.right, 10.5f);
        EXPECT_EQ(bar.outer.bottom, 20.0f - 0.1f);
        EXPECT_EQ(bar.outer.top, 20.0f + 0.1f);
        EXPECT_FLOAT_EQ(bar.blank.left, c.blankLeft);
        EXPECT_EQ(bar.blank.right, 10.0f + 0.47f);
        EXPECT_EQ(bar.blank.bottom, 20.0f - 0.07f);
        EXPECT_EQ(bar.blank.top, 20.0f + 0.07f);
    }
}

TEST(RobotImage, WidthIsTheBodyRadiusWithAndWithoutLoad) {
    EXPECT_EQ(GetRobotHalfExtents(0, 64, 64).x, 0.45f);
    EXPECT_EQ(GetRobotHalfExtents(0, 64, 64).y, 0.45f);
    EXPECT_EQ(GetRobotHalfExtents(3, 64, 64).x, 0.53f);
    EXPECT_EQ(GetRobotHalfExtents(3, 64, 64).y, 0.53f);
    // A picture twice as wide as high keeps its aspect.
    EXPECT_EQ(GetRobotHalfExtents(0, 64, 32).y, 0.225f);
    EXPECT_EQ(GetRobotHalfExtents(7, 64, 32).y, 32.0f * 0.53f / 64.0f);
}

TEST(WorkbenchLabels, DigitsOfNeededMaterialsRedWhenHeld) {
    struct Expect {
        char c;
        float x;
        int variant;
    };
    struct Case {
        const char* name;
        int type;
        uint32_t need, have;
        std::vector<Expect> labels;
    };
    const float x = 20.0f;
    const Case cases[] = {
        {"type 7 holding 5 of 4, 5, 6", 7, (1u << 4) | (1u << 5) | (1u << 6), 1u << 5,
         {{'4', x - 0.3f, 0}, {'5', x - 0.3f + 0.3f, 1}, {'6', x - 0.3f + 0.3f + 0.3f, 0}}},
        {"type 4 holding 2", 4, (1u << 1) | (1u << 2), 1u << 2, {{'1', x - 0.3f, 0}, {'2', x - 0.3f + 0.3f, 1}}},
        {"type 1 needs nothing", 1, 0, 0, {}},
        {"type 9 shows a star whatever the masks", 9, 0xFE, 0xFE, {{'*', x, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WorkbenchInfo info = MakeInfo(x, 10.0f, c.type, c.need, c.have, 0, -1.0f);
        std::vector<LabelText> labels = GetWorkbenchLabels(info);
        ASSERT_EQ(labels.size(), c.labels.size());
        for (size_t i = 0; i < labels.size(); ++i) {
            EXPECT_EQ(labels[i].text[0], c.labels[i].c);
            EXPECT_EQ(labels[i].text[1], '\0');
            EXPECT_EQ(labels[i].x, c.labels[i].x);
            EXPECT_EQ(labels[i].y, 10.0f - 0.9f);
            EXPECT_EQ(labels[i].variant, c.labels[i].variant);
            EXPECT_EQ(labels[i].size, c.type == 9 ? 0.9f : 0.7f);
            EXPECT_EQ(labels[i].spacing, c.type == 9 ? 0.0f : 0.1f);
        }
    }
}

TEST(LidarSwitch, OneBitPerRobotOfEachPlayer) {
    struct Case {
        const char* name;
        uint32_t lidarSwitch;
        uint8_t shownMask;  // bit player * 4 + robot
    };
    const Case cases[] = {
        {"-z 0: no rays", 0x00, 0x00},
        {"-z 0x0F: the first player's", 0x0F, 0x0F},
        {"-z 0xF0: the second player's", 0xF0, 0xF0},
        {"bit 5: second player's robot 1", 0x20, 0x20},
        {"bits above 7 have no effect", 0xFFFFFF00u, 0x00},
        {"default: all", 0xFF, 0xFF},
    };
    Display* display = Display::GetInstance();
    const uint32_t saved = display->GetLidarSwitch();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        display->SetLidarSwitch(c.lidarSwitch);
        for (int p = 0; p < 2; ++p)
            for (int r = 0; r < 4; ++r)
                EXPECT_EQ(display->IsLidarShown(p, r), ((c.shownMask >> (p * 4 + r)) & 1) != 0) << p << " " << r;
    }
    display->SetLidarSwitch(saved);
}

TEST(LidarRays, BeamIAtHeadingPlusIDegrees) {
    RobotView view;
    view.x = 10.0f;
    view.y = 20.0f;
    view.angle = 7.0f;  // not wrapped in the snapshot; the ray angle is
    view.radar.assign(360, 2.0f);
    b2Vec2 end0 = GetRayEnd(view, 0, 360);
    EXPECT_FLOAT_EQ(end0.x, 10.0f + 2.0f * cosf(7.0f));
    EXPECT_FLOAT_EQ(end0.y, 20.0f + 2.0f * sinf(7.0f));
    view.angle = 0.0f;
    b2Vec2 end90 = GetRayEnd(view, 90, 360);
    EXPECT_NEAR(end90.x, 10.0f, 1e-6);
    EXPECT_FLOAT_EQ(end90.y, 22.0f);
    b2Vec2 end180 = GetRayEnd(view, 180, 360);
    EXPECT_FLOAT_EQ(end180.x, 8.0f);
}

TEST(ExploredCells, ShadeByWhoHasSeenTheCell) {
    struct Case {
        const char* name;
        uint8_t first, second;
        bool drawn;
        uint8_t rgba[4];
    };
    const Case cases[] = {
        {"nobody: half-transparent black", 0, 0, true, {0, 0, 0, 128}},
        {"only player 1", 1, 0, true, {128, 0, 0, 64}},
        {"only player 2", 0, 1, true, {0, 0, 128, 64}},
        {"both: clear", 1, 1, false, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        uint8_t rgba[4] = {7, 7, 7, 7};
        ASSERT_EQ(GetCellShade(c.first, c.second, rgba), c.drawn);
        if (c.drawn) {
            EXPECT_EQ(0, memcmp(rgba, c.rgba, 4));
        }
    }
}

TEST(Clock, ShowsTheSecondsLeftPlusOne) {
    struct Case {
        int32_t secondsLeft;
        const char* text;
    };
    const Case cases[] = {{239, "04:00"}, {0, "00:01"}, {59, "01:00"}, {118, "01:59"}};
    for (const Case& c : cases) {
        char buf[64];
        FormatClock(c.secondsLeft, buf, sizeof buf);
        EXPECT_STREQ(buf, c.text) << c.secondsLeft;
    }
}

// ---------------------------------------------------------------- failures

TEST(DisplayDeathTest, TextWithoutGlyphStopsTheProgram) {
    // A space has no glyph file; neither has any code from 128 up.
    EXPECT_DEATH(Display::GetInstance()->DrawTextA(" 1", 0.0f, 0.0f, 0, 1.0f, 0.0f), "Can find Img/font/32.png");
    EXPECT_DEATH(Display::GetInstance()->DrawTextA("\xC3", 0.0f, 0.0f, 1, 1.0f, 0.0f), "Can find Img/font/195.png");
}

TEST(DisplayDeathTest, MissingImageFileStopsTheProgram) {
    CPngImage image;
    EXPECT_DEATH(image.Init("Img/no-such-image.png"),
                 "Can not open file :Img/no-such-image.png, err:No such file or directory");
}

// ---------------------------------------------------------------- drawing

// One window for the whole process, with the images loaded from the
// project's Img/ and the game's map set to a fixture.
class WindowFixture : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static char arg0[] = "DisplayTest";
        static char* argv[] = {arg0, nullptr};
        // Mesa's software renderer draws on this thread instead of its own pool.
        setenv("LP_NUM_THREADS", "0", 0);
        Display* display = Display::GetInstance();
        display->Init(1, argv);
        if (!display->HasWindow()) return;
        display->OpenWindow();
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        ASSERT_EQ(chdir(SOURCE_DIR), 0);
        display->LoadImages();
        ASSERT_EQ(chdir(cwd), 0);
        s_ready = true;

        // A 100 by 100 map with obstacle cells at row 10 column 10 and row 40 column 60.
        std::vector<std::vector<char>> rows(100, std::vector<char>(100, '.'));
        rows[10][10] = '#';
        rows[40][60] = '#';
        ASSERT_TRUE(Game::GetInstance()->GetMap().Load(rows));
        ASSERT_TRUE(s_background.Load(probe::ImgPath("background.png")));
    }

    void SetUp() override {
        if (!s_ready) GTEST_SKIP() << "no X display with OpenGL";
        Display::GetInstance()->SetLidarSwitch(0xFF);
    }

    // A snapshot whose cells are all seen by both players (no shading) and
    // whose robots stand in a row along the bottom, carrying nothing.
    static std::unique_ptr<DisplayFrame> MakeFrame() {
        auto frame = std::make_unique<DisplayFrame>();
        frame->m_iSecondsLeft = 239;
        frame->m_money[0] = 200000;
        frame->m_money[1] = 200000;
        memset(frame->m_seen, 1, sizeof frame->m_seen);
        for (int i = 0; i < 8; ++i) {
            frame->m_robots[i].x = 30.0f + 2.0f * i;
            frame->m_robots[i].y = 2.0f;
        }
        return frame;
    }

    static probe::Screenshot Draw(const DisplayFrame& frame) {
        probe::Screenshot shot = DrawOnly(frame);
        probe::KeepScreenshot(shot, ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                                        std::to_string(s_shots++));
        return shot;
    }
    static probe::Screenshot DrawOnly(const DisplayFrame& frame) {
        GLint viewport[4];
        glGetIntegerv(GL_VIEWPORT, viewport);
        glClear(GL_COLOR_BUFFER_BIT);
        Display::GetInstance()->DrawScene(frame);
        glFinish();
        probe::Screenshot shot;
        shot.width = viewport[2];
        shot.height = viewport[3];
        std::vector<uint8_t> rgba(static_cast<size_t>(shot.width) * shot.height * 4);
        glReadBuffer(GL_BACK);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, shot.width, shot.height, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
        shot.pixels.resize(static_cast<size_t>(shot.width) * shot.height);
        for (int y = 0; y < shot.height; ++y)
            for (int x = 0; x < shot.width; ++x) {
                const uint8_t* p = &rgba[(static_cast<size_t>(shot.height - 1 - y) * shot.width + x) * 4];
                shot.pixels[static_cast<size_t>(y) * shot.width + x] = {p[0], p[1], p[2]};
            }
        return shot;
    }

    static Rgb BackgroundUnder(const probe::Screenshot& shot, double ax, double ay) {
        int px, py;
        shot.ArenaToPixel(ax, ay, px, py);
        return probe::BackgroundAt(s_background, shot, px, py);
    }
    static Rgb ArenaOver(const probe::Screenshot& shot, double ax, double ay) {
        return probe::Blend({150, 150, 150}, 150, BackgroundUnder(shot, ax, ay));
    }

    // Pixels in the box around an arena point that differ from the reference.
    static int ChangedPixels(const probe::Screenshot& shot, const probe::Screenshot& reference, double ax, double ay,
                             double half) {
        int x0, y0, x1, y1;
        shot.ArenaToPixel(ax - half, ay + half, x0, y0);
        shot.ArenaToPixel(ax + half, ay - half, x1, y1);
        int changed = 0;
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                if (!probe::Near(shot.At(x, y), reference.At(x, y), 0)) ++changed;
        return changed;
    }

    static bool s_ready;
    static int s_shots;
    static probe::PngFile s_background;
};
int WindowFixture::s_shots = 0;
bool WindowFixture::s_ready = false;
probe::PngFile WindowFixture::s_background;

bool IsDarkInk(Rgb c) { return c.r + c.g + c.b < 200; }

// Pixels in the box of half size `half` around an arena point that pass the test.
template <typename Test>
int CountPixels(const probe::Screenshot& shot, double ax, double ay, double half, Test test) {
    int x0, y0, x1, y1;
    shot.ArenaToPixel(ax - half, ay + half, x0, y0);
    shot.ArenaToPixel(ax + half, ay - half, x1, y1);
    int count = 0;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            if (test(shot.At(x, y))) ++count;
    return count;
}

TEST_F(WindowFixture, ArenaObstaclesShadingMoneyAndClock) {
    std::unique_ptr<DisplayFrame> frame = MakeFrame();
    // Map cells of row 20: column 20 seen by both, 30 by player 1 only, 40 by player 2 only, 50 by nobody.
    frame->m_seen[1][20][30] = 0;
    frame->m_seen[0][20][40] = 0;
    frame->m_seen[0][20][50] = 0;
    frame->m_seen[1][20][50] = 0;
    frame->m_money[1] = 1234567;
    frame->m_iSecondsLeft = 118;
    probe::Screenshot shot = Draw(*frame);
    ASSERT_GE(shot.width, 800);

    const double rowY = 49.75 - 0.5 * 20;
    auto cellX = [](int col) { return 0.5 * col + 0.25; };
    const Rgb arena = ArenaOver(shot, cellX(20), rowY);
    EXPECT_TRUE(probe::Near(shot.AtArena(cellX(20), rowY), arena)) << probe::ToString(shot.AtArena(cellX(20), rowY));
    const Rgb onlyFirst = probe::Blend({128, 0, 0}, 64, ArenaOver(shot, cellX(30), rowY));
    EXPECT_TRUE(probe::Near(shot.AtArena(cellX(30), rowY), onlyFirst)) << probe::ToString(shot.AtArena(cellX(30), rowY));
    const Rgb onlySecond = probe::Blend({0, 0, 128}, 64, ArenaOver(shot, cellX(40), rowY));
    EXPECT_TRUE(probe::Near(shot.AtArena(cellX(40), rowY), onlySecond))
        << probe::ToString(shot.AtArena(cellX(40), rowY));
    const Rgb nobody = probe::Blend({0, 0, 0}, 128, ArenaOver(shot, cellX(50), rowY));
    EXPECT_TRUE(probe::Near(shot.AtArena(cellX(50), rowY), nobody)) << probe::ToString(shot.AtArena(cellX(50), rowY));

    // Obstacle cells (row 10 column 10, row 40 column 60) are opaque; their neighbours are arena.
    EXPECT_TRUE(probe::Near(shot.AtArena(5.25, 44.75), {150, 100, 0}));
    EXPECT_TRUE(probe::Near(shot.AtArena(30.25, 29.75), {150, 100, 0}));
    EXPECT_TRUE(probe::Near(shot.AtArena(30.25, 30.25), ArenaOver(shot, 30.25, 30.25)));
    // Left of the arena only the background shows.
    EXPECT_TRUE(probe::Near(shot.AtArena(-5.0, 33.0), BackgroundUnder(shot, -5.0, 33.0)));

    EXPECT_EQ(probe::ReadText(shot, -24.0, 19.0, 6.0, 6, "0123456789-", IsDarkInk), "200000");
    EXPECT_EQ(probe::ReadText(shot, -24.0, 11.0, 6.0, 7, "0123456789-", IsDarkInk), "1234567");
    EXPECT_EQ(probe::ReadText(shot, -23.0, 28.0, 6.0, 5, "0123456789:", IsDarkInk), "01:59");
}

TEST_F(WindowFixture, LidarSwitchChoosesWhoseRaysAreDrawn) {
    std::unique_ptr<DisplayFrame> frame = MakeFrame();
    // Robots 12 m apart, every beam 3 m long.
    for (int i = 0; i < 8; ++i) {
        frame->m_robots[i].x = 6.0f + 12.0f * (i % 4);
        frame->m_robots[i].y = i < 4 ? 8.0f : 30.0f;
        frame->m_robots[i].radar.assign(360, 3.0f);
    }
    Display::GetInstance()->SetLidarSwitch(0);
    const probe::Screenshot noRays = Draw(*frame);

    struct Case {
        const char* name;
        uint32_t lidarSwitch;
        uint8_t shownMask;
    };
    const Case cases[] = {
        {"-z 0", 0x00, 0x00},
        {"-z 0x0F", 0x0F, 0x0F},
        {"-z 0xF0", 0xF0, 0xF0},
        {"bit 5 alone", 0x20, 0x20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Display::GetInstance()->SetLidarSwitch(c.lidarSwitch);
        const probe::Screenshot shot = Draw(*frame);
        for (int i = 0; i < 8; ++i) {
            const RobotView& v = frame->m_robots[i];
            // Rays between 1 and 2.5 m from the robot, beside its image.
            int changed = ChangedPixels(shot, noRays, v.x + 1.75, v.y - 1.75, 0.7);
            if ((c.shownMask >> i) & 1) {
                EXPECT_GT(changed, 10) << "robot " << i;
            } else {
                EXPECT_EQ(changed, 0) << "robot " << i;
            }
        }
        // A ray darkens the red of the grey arena towards blue (first player) or red (second).
        if (c.shownMask & 1) {
            const RobotView& v = frame->m_robots[0];
            // Far enough out that no neighbouring beam shares the pixel.
            const Rgb ray = shot.AtArena(v.x + 2.9, v.y);
            const Rgb ground = noRays.AtArena(v.x + 2.9, v.y);
            EXPECT_TRUE(probe::Near(ray, probe::Blend({50, 50, 150}, 30, ground), 3))
                << probe::ToString(ray) << " over " << probe::ToString(ground);
        }
    }
}

TEST_F(WindowFixture, CarryingRobotIsWiderAndShowsItsLoad) {
    std::unique_ptr<DisplayFrame> frame = MakeFrame();
    RobotView& empty = frame->m_robots[0];
    empty.x = 10.0f;
    empty.y = 30.0f;
    RobotView& loaded = frame->m_robots[5];
    loaded.x = 20.0f;
    loaded.y = 30.0f;
    loaded.product = 3;
    loaded.valueRate = 1.0f;
    RobotView& fresh = frame->m_robots[6];
    fresh.x = 30.0f;
    fresh.y = 30.0f;
    fresh.product = 3;
    fresh.valueRate = 0.0f;
    const probe::Screenshot shot = Draw(*frame);

    // The disc reaches 0.49 m below the centre only when the robot carries.
    EXPECT_TRUE(probe::Near(shot.AtArena(10.0, 30.0 - 0.49), ArenaOver(shot, 10.0, 30.0 - 0.49)));
    EXPECT_FALSE(probe::Near(shot.AtArena(20.0, 30.0 - 0.49), ArenaOver(shot, 20.0, 30.0 - 0.49), 20));
    EXPECT_FALSE(probe::Near(shot.AtArena(10.0, 30.0 - 0.38), ArenaOver(shot, 10.0, 30.0 - 0.38), 20));
    // The value bar above: all red at rate 1, white inside at rate 0; none without a load.
    EXPECT_TRUE(probe::Near(shot.AtArena(20.2, 30.7), {255, 0, 0}));
    EXPECT_TRUE(probe::Near(shot.AtArena(30.2, 30.7), {255, 255, 255}));
    EXPECT_TRUE(probe::Near(shot.AtArena(10.2, 30.7), ArenaOver(shot, 10.2, 30.7)));
    // The product's digit above the bar, only on a loaded robot.
    EXPECT_GT(CountPixels(shot, 20.0, 31.2, 0.2, IsDarkInk), 5);
    EXPECT_EQ(CountPixels(shot, 10.0, 31.2, 0.2, IsDarkInk), 0);
}

TEST_F(WindowFixture, WorkbenchProgressBarAndMaterials) {
    std::unique_ptr<DisplayFrame> frame = MakeFrame();
    // Type 7 half done, needing 4, 5 and 6, holding 5; type 1 idle; a type 9 of the second player.
    frame->m_workbenches[0].push_back(MakeInfo(10.25f, 30.25f, 7, 0x70, 0x20, 0, 0.5f));
    frame->m_workbenches[0].push_back(MakeInfo(20.25f, 30.25f, 1, 0, 0, 1, -1.0f));
    frame->m_workbenches[1].push_back(MakeInfo(30.25f, 30.25f, 9, 0xFE, 0x80, 0, -1.0f));
    const probe::Screenshot shot = Draw(*frame);

    // Bar above type 7: green left half, white right half, in a green frame.
    EXPECT_TRUE(probe::Near(shot.AtArena(10.25 - 0.25, 30.25 + 0.5), {0, 150, 0}));
    EXPECT_TRUE(probe::Near(shot.AtArena(10.25 + 0.25, 30.25 + 0.5), {255, 255, 255}));
    EXPECT_TRUE(probe::Near(shot.AtArena(10.25 + 0.25, 30.25 + 0.58), {0, 150, 0}));
    // No bar over the idle workbench.
    EXPECT_TRUE(probe::Near(shot.AtArena(20.25 + 0.25, 30.25 + 0.58), ArenaOver(shot, 20.25 + 0.25, 30.25 + 0.58)));

    // The workbench images themselves: the type 7 plain one, the type 1 with its product ready.
    probe::PngFile plain7, ready1, star;
    ASSERT_TRUE(plain7.Load(probe::ImgPath("7.png")));
    ASSERT_TRUE(ready1.Load(probe::ImgPath("1_p.png")));
    EXPECT_TRUE(probe::Near(shot.AtArena(10.25 - 0.3, 30.25 - 0.3), plain7.AtUv(0.2, 0.2)));
    EXPECT_TRUE(probe::Near(shot.AtArena(20.25 - 0.3, 30.25 - 0.3), ready1.AtUv(0.2, 0.2)));

    // Materials, too small to read back glyph by glyph: 4 and 6 in the plain
    // ink at x - 0.3 and x + 0.3, 5 in red at x.
    auto isRed = [](Rgb c) { return probe::Near(c, {239, 0, 0}, 2); };
    const double labelY = 30.25 - 0.9;
    EXPECT_GT(CountPixels(shot, 10.25 - 0.3, labelY, 0.12, IsDarkInk), 5);
    EXPECT_EQ(CountPixels(shot, 10.25 - 0.3, labelY, 0.12, isRed), 0);
    EXPECT_GT(CountPixels(shot, 10.25, labelY, 0.12, isRed), 5);
    EXPECT_EQ(CountPixels(shot, 10.25, labelY, 0.12, IsDarkInk), 0);
    EXPECT_GT(CountPixels(shot, 10.25 + 0.3, labelY, 0.12, IsDarkInk), 5);
    EXPECT_EQ(CountPixels(shot, 10.25 + 0.3, labelY, 0.12, isRed), 0);
    // No digits under the type 1 workbench; the type 9 one shows its star, never red.
    EXPECT_EQ(CountPixels(shot, 20.25, labelY, 0.4, IsDarkInk), 0);
    EXPECT_GT(CountPixels(shot, 30.25, labelY, 0.15, IsDarkInk), 5);
    EXPECT_EQ(CountPixels(shot, 30.25, labelY, 0.4, isRed), 0);
}

TEST_F(WindowFixture, RenderTakesTheSnapshotOrDoesNothing) {
    Display* display = Display::GetInstance();
    ASSERT_EQ(display->PendingFrame().load(), nullptr);
    glClearColor(0.2f, 0.4f, 0.6f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    display->Render();  // empty slot: no clear, no drawing, no swap
    GLubyte pixel[4];
    glReadBuffer(GL_BACK);
    glReadPixels(10, 10, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
    EXPECT_TRUE(probe::Near({pixel[0], pixel[1], pixel[2]}, {51, 102, 153}, 1));
    glClearColor(0.8f, 0.8f, 0.8f, 1.0f);

    // A pending snapshot is taken, drawn and freed (the sanitizer build checks the freeing).
    display->PendingFrame().store(MakeFrame().release());
    display->Render();
    EXPECT_EQ(display->PendingFrame().load(), nullptr);
}

// ---------------------------------------------------------------- images

void WritePng(const std::string& path, int w, int h, int colorType, const std::vector<uint8_t>& topRowFirst) {
    FILE* fp = fopen(path.c_str(), "wb");
    ASSERT_NE(fp, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, fp);
    png_set_IHDR(png, info, w, h, 8, colorType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const int channels = colorType == PNG_COLOR_TYPE_RGBA ? 4 : 3;
    for (int y = 0; y < h; ++y) png_write_row(png, &topRowFirst[static_cast<size_t>(y) * w * channels]);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    fclose(fp);
}

TEST_F(WindowFixture, ThreeChannelImagesMakeWhiteTransparentAndTakeTheTint) {
    const std::string dir = MakeTempDir("display_png");
    // Top row: white, grey; bottom row: red, black.
    WritePng(dir + "/rgb.png", 2, 2, PNG_COLOR_TYPE_RGB, {255, 255, 255, 100, 100, 100, 200, 0, 0, 0, 0, 0});
    CPngImage plain;
    ASSERT_TRUE(plain.Init((dir + "/rgb.png").c_str()));
    EXPECT_EQ(plain.m_nWidth, 2);
    EXPECT_EQ(plain.m_nHeight, 2);
    EXPECT_NE(plain.m_uTexture, 0u);
    // Bottom row first.
    const std::vector<uint8_t> expected = {200, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255, 0, 100, 100, 100, 255};
    EXPECT_EQ(std::vector<uint8_t>(plain.m_pData, plain.m_pData + 16), expected);

    CPngImage red;
    red.m_uColor = 0xFF0000EFu;
    ASSERT_TRUE(red.Init((dir + "/rgb.png").c_str()));
    const std::vector<uint8_t> tinted = {239, 0, 0, 255, 239, 0, 0, 255, 255, 255, 255, 0, 239, 0, 0, 255};
    EXPECT_EQ(std::vector<uint8_t>(red.m_pData, red.m_pData + 16), tinted);
}

TEST_F(WindowFixture, ImagesWithAlphaAreKeptAsTheyAre) {
    const std::string dir = MakeTempDir("display_png");
    WritePng(dir + "/rgba.png", 1, 2, PNG_COLOR_TYPE_RGBA, {255, 255, 255, 255, 10, 20, 30, 40});
    CPngImage image;
    image.m_uColor = 0xFF0000EFu;  // no effect on an image with alpha
    ASSERT_TRUE(image.Init((dir + "/rgba.png").c_str()));
    const std::vector<uint8_t> expected = {10, 20, 30, 40, 255, 255, 255, 255};
    EXPECT_EQ(std::vector<uint8_t>(image.m_pData, image.m_pData + 8), expected);
}

TEST_F(WindowFixture, LoadedImagesHaveTheirSizes) {
    EXPECT_EQ(g_BackgroundImage.m_fHalfWidth, 1.0f);
    EXPECT_EQ(g_BackgroundImage.m_fHalfHeight, 1.0f);
    EXPECT_EQ(g_BannerImage.m_fHalfWidth, 15.0f);
    EXPECT_EQ(g_BannerImage.m_fHalfHeight, 15.0f * g_BannerImage.m_nHeight / g_BannerImage.m_nWidth);
    for (int p = 0; p < 2; ++p) {
        EXPECT_EQ(g_MoneyImage[p].m_fHalfWidth, 2.5f);
        for (int type = 1; type <= 9; ++type)
            for (int v = 0; v < 2; ++v) {
                EXPECT_EQ(g_WorkbenchImage[p * 10 + type][v].m_fHalfWidth, 0.5f);
                EXPECT_NE(g_WorkbenchImage[p * 10 + type][v].m_uTexture, 0u);
            }
    }
    // Glyphs: none up to the space, both variants for "*", the digits and ":".
    for (int code = 0; code <= 32; ++code) EXPECT_EQ(g_FontImage[code][0], nullptr) << code;
    for (int code : {42, 48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58}) {
        ASSERT_NE(g_FontImage[code][0], nullptr) << code;
        ASSERT_NE(g_FontImage[code][1], nullptr) << code;
        EXPECT_EQ(g_FontImage[code][1]->m_uColor, 0xFF0000EFu);
    }
}

}  // namespace

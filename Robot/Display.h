// The live window: the hand-over of snapshots from the game thread, the
// images and glyph text, and the drawing of one snapshot.
//
// Threads:
// - Display: Init and Run on the main thread; the window callbacks run there
//   too.  m_pPendingFrame is the one thing shared with the game thread, which
//   publishes by exchange (Game::RecordFrame) while the main thread takes by
//   exchange; m_uLidarSwitch is written before the game thread starts and only
//   read afterwards.
// - RobotView / DisplayFrame: owned by whichever side holds the pointer (the
//   game thread while filling, the slot, then the main thread while drawing).
// - CPngImage and the image globals: main thread only, with the window's
//   drawing context current.
// - The layout helpers at the bottom are pure and may be called anywhere.
#pragma once

#include <box2d/box2d.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "Map.h"
#include "Workbench.h"

// One robot in a snapshot.
struct RobotView {
    float x = 0.0f;      // centre of the active body, metres
    float y = 0.0f;
    float angle = 0.0f;  // the body's angle as the physics reports it, not wrapped
    int32_t product = 0;  // carried product, 0 when none
    float valueRate = 0.0f;
    std::vector<float> radar;  // lidar lengths in metres
};

// One frame's snapshot for the window.
struct DisplayFrame {
    int32_t m_iSecondsLeft = 0;
    RobotView m_robots[8];  // index player * 4 + robot id
    int32_t m_money[2] = {0, 0};
    std::vector<WorkbenchInfo> m_workbenches[2];
    uint8_t m_seen[2][MAP_SIDE_CELLS][MAP_SIDE_CELLS] = {};  // [player][map row][column], 1 = seen
};

// One PNG file as an OpenGL texture, drawn as a quad of its half extents.
class CPngImage {
public:
    CPngImage() = default;
    CPngImage(float halfWidth, float halfHeight) : m_fHalfHeight(halfHeight), m_fHalfWidth(halfWidth) {}

    // Opens and loads the file; a file that cannot be opened ends the program.
    bool Init(const char* path);
    // Decodes the open PNG file, uploads it as this image's texture and closes the file.
    bool LoadFromFile(FILE* fp);
    // Draws the image centred on (x, y), turned counter-clockwise by angle (radians).
    void Draw(float x, float y, float angle, b2Vec2 t0, b2Vec2 t1) const;

    float m_fHalfHeight = 0.0f;
    float m_fHalfWidth = 0.0f;
    uint32_t m_uTexture = 0;
    int32_t m_nWidth = 0;
    int32_t m_nHeight = 0;
    uint8_t* m_pData = nullptr;  // RGBA, bottom row first; kept for the whole run
    uint32_t m_uColor = 0;       // tint of three-channel images (R low byte ... A high byte); 0: none
};

extern CPngImage g_BackgroundImage;
extern CPngImage g_BannerImage;
extern CPngImage g_RobotImage[2];
extern CPngImage g_MoneyImage[2];
extern CPngImage g_WorkbenchImage[20][2];  // [player * 10 + type][product ready]
extern CPngImage* g_FontImage[128][2];     // [character code][0 plain, 1 red]; null without a file

class Display {
public:
    static Display* GetInstance();

    // Prepares the window library; without a usable X display the match is
    // later played without a window.  Always true.
    bool Init(int argc, char** argv);
    // Starts the game thread on entry, then serves the window; never returns.
    [[noreturn]] void Run(void (*entry)());

    void SetLidarSwitch(uint32_t lidarSwitch) { m_uLidarSwitch = lidarSwitch; }
    uint32_t GetLidarSwitch() const { return m_uLidarSwitch; }
    std::atomic<DisplayFrame*>& PendingFrame() { return m_pPendingFrame; }
    bool HasWindow() const { return m_bWindowed; }

    // Takes the pending snapshot; draws, shows and frees it when there is one.
    void Render();
    // The whole scene of one snapshot into the current buffer (no clear, no swap).
    void DrawScene(const DisplayFrame& frame) const;
    // The snapshot's own content, in arena units.
    void DrawFrame(const DisplayFrame& frame) const;
    void DrawTextA(const char* text, float x, float y, int variant, float size, float spacing) const;
    void DrawProgressBar(float x, float y, float ratio) const;
    // Creates the window with its callbacks and drawing state (Run does
    // this; the tests too, to draw without the event loop).
    void OpenWindow();
    // Reads every image file into its texture; needs the window's context.
    void LoadImages();

    bool IsLidarShown(int player, int robot) const;

    static void OnDisplay();
    static void OnClose();

private:
    Display() = default;
    // A connection to the X display if it has OpenGL (GLX), else null.
    static struct _XDisplay* OpenUsableDisplay();
    [[noreturn]] void RunWithoutWindow();
    // The game thread ends the process; the main thread waits for that.
    [[noreturn]] void KeepMainThreadAlive();
    void DrawArena() const;
    void DrawWorkbenches(const DisplayFrame& frame) const;
    void DrawLidar(const DisplayFrame& frame) const;
    void DrawExploredCells(const DisplayFrame& frame) const;
    void DrawRobots(const DisplayFrame& frame) const;
    void DrawMoneyAndClock(const DisplayFrame& frame) const;

    std::unique_ptr<std::thread> m_pGameThread;
    std::atomic<DisplayFrame*> m_pPendingFrame{nullptr};
    uint32_t m_uLidarSwitch = 0xFF;
    bool m_bWindowed = false;  // Init found an X display with GLX
};

// ---------------------------------------------------------------- layout
// The geometry that the drawing uses, kept pure so that it can be checked
// without a window.

// Pen of Display::DrawTextA: glyphs `size` tall that keep their aspect,
// the first centred on the start, boxes `size * spacing` apart.
struct GlyphPlacement {
    float x;  // centre
    float halfWidth;
    float halfHeight;
};
class TextPen {
public:
    TextPen(float x, float size, float spacing) : m_fX(x), m_fSize(size), m_fSpacing(spacing) {}
    // Places the next glyph of an image widthPx by heightPx and moves on.
    GlyphPlacement Place(int32_t widthPx, int32_t heightPx);

private:
    float m_fX;
    float m_fSize;
    float m_fSpacing;
    bool m_bFirst = true;
};

struct BarRect {
    float left;
    float bottom;
    float right;
    float top;
};
// The coloured frame and the white unfilled part of Display::DrawProgressBar.
struct ProgressBarGeometry {
    BarRect outer;
    BarRect blank;
};
ProgressBarGeometry GetProgressBarGeometry(float x, float y, float ratio);

// Half width of a robot image (its body radius) and the half height that keeps the picture's aspect.
b2Vec2 GetRobotHalfExtents(int32_t product, int32_t widthPx, int32_t heightPx);

// One text of a workbench's label line: the product digits (red when held) or "*" for type 9.
struct LabelText {
    char text[2];
    float x;
    float y;
    int variant;
    float size;
    float spacing;
};
std::vector<LabelText> GetWorkbenchLabels(const WorkbenchInfo& info);

// The end point of lidar beam i of n for a robot view.
b2Vec2 GetRayEnd(const RobotView& view, int i, int n);

// The clock text of a snapshot ("%02d:%02d", the seconds left plus one).
void FormatClock(int32_t secondsLeft, char* buf, size_t size);

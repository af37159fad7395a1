#include "Display.h"

#include <GL/freeglut.h>
#include <png.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "ExploredCells.h"
#include "Game.h"
#include "Log.h"
#include "Map.h"
#include "Platform.h"
#include "Robot.h"

// Xlib names its connection type Display, as this module names its class:
// inside its headers the name is changed.  They also define macros such as
// None, Bool and Status, so they come last.
#define Display XDisplayConnection
#include <GL/glx.h>
#include <X11/Xlib.h>
#undef Display

CPngImage g_BackgroundImage(1.0f, 1.0f);
CPngImage g_BannerImage;
CPngImage g_RobotImage[2];
CPngImage g_MoneyImage[2];
CPngImage g_WorkbenchImage[20][2];
CPngImage* g_FontImage[128][2];

namespace {

constexpr int WINDOW_WIDTH = 1680;
constexpr int WINDOW_HEIGHT = 945;
constexpr const char* WINDOW_TITLE = "Zentrik Varnholt 2023";
constexpr float PI_F = 3.1415927f;
constexpr uint32_t RED_GLYPH_TINT = 0xFF0000EFu;  // R 239, G 0, B 0, A 255
// A thread parked for good wakes up this seldom.
constexpr int64_t PARKED_SLEEP_MS = 3600000;

const b2Vec2 TEX_LOWER_LEFT(0.0f, 0.0f);
const b2Vec2 TEX_UPPER_RIGHT(1.0f, 1.0f);

// Keeps the picture's aspect: the half height that goes with a fixed half width.
void SetHalfWidthKeepAspect(CPngImage& image, float halfWidth) {
    image.m_fHalfWidth = halfWidth;
    image.m_fHalfHeight = halfWidth * static_cast<float>(image.m_nHeight) / static_cast<float>(image.m_nWidth);
}

// Xlib ends the process when the connection to the X server breaks.  The
// match must end on its own terms (result line, replay), so the main thread
// gives up the window instead and stays parked until the game thread ends
// the process.
int OnXConnectionLost(XDisplayConnection*) {
    LOG_WARN("The connection to the X display was lost; the match goes on without a window.\n");
    for (;;) Platform::SleepMs(PARKED_SLEEP_MS);
}

void DrawQuad(const BarRect& r, GLenum mode) {
    glBegin(mode);
    glVertex2f(r.left, r.bottom);
    glVertex2f(r.left, r.top);
    glVertex2f(r.right, r.top);
    glVertex2f(r.right, r.bottom);
    glEnd();
}

}  // namespace

// ---------------------------------------------------------------- layout

GlyphPlacement TextPen::Place(int32_t widthPx, int32_t heightPx) {
    GlyphPlacement glyph;
    glyph.halfHeight = m_fSize * 0.5f;
    glyph.halfWidth = static_cast<float>(widthPx) * (m_fSize * 0.5f) / static_cast<float>(heightPx);
    if (!m_bFirst) m_fX += glyph.halfWidth;
    m_bFirst = false;
    glyph.x = m_fX;
    m_fX += m_fSize * m_fSpacing + glyph.halfWidth;
    return glyph;
}

ProgressBarGeometry GetProgressBarGeometry(float x, float y, float ratio) {
    ProgressBarGeometry bar;
    bar.outer = {x - 0.5f, y - 0.1f, x + 0.5f, y + 0.1f};
    float left = (x - 0.47f) + 2.0f * ratio * 0.47f;
    bar.blank = {left, y - 0.07f, x + 0.47f, y + 0.07f};
    return bar;
}

b2Vec2 GetRobotHalfExtents(int32_t product, int32_t widthPx, int32_t heightPx) {
    float halfWidth = product != 0 ? 1.06f * 0.5f : 0.9f * 0.5f;
    float halfHeight = static_cast<float>(heightPx) * halfWidth / static_cast<float>(widthPx);
    return b2Vec2(halfWidth, halfHeight);
}

std::vector<LabelText> GetWorkbenchLabels(const WorkbenchInfo& info) {
    std::vector<LabelText> labels;
    const float y = info.y - 0.9f;
    if (info.type == 9) {
        labels.push_back(LabelText{{'*', '\0'}, info.x, y, 0, 0.9f, 0.0f});
        return labels;
    }
    float pen = info.x - 0.3f;
    for (int id = 1; id <= 9; ++id) {
        const uint32_t bit = 1u << id;
        if (!(info.needMask & bit)) continue;
        int variant = (info.haveMask & bit) ? 1 : 0;
        labels.push_back(LabelText{{static_cast<char>('0' + id), '\0'}, pen, y, variant, 0.7f, 0.1f});
        pen += 0.3f;
    }
    return labels;
}

b2Vec2 GetRayEnd(const RobotView& view, int i, int n) {
    float a = static_cast<float>(2 * i) * PI_F / static_cast<float>(n) + view.angle;
    a = NormalizeAngle(a);
    const float len = view.radar[i];
    return b2Vec2(view.x + len * cosf(a), view.y + len * sinf(a));
}

void FormatClock(int32_t secondsLeft, char* buf, size_t size) {
    const int32_t t = secondsLeft + 1;
    snprintf(buf, size, "%02d:%02d", t / 60, t % 60);
}

// ---------------------------------------------------------------- CPngImage

bool CPngImage::Init(const char* path) {
    FILE* fp = fopen(path, "rb");
    if (!fp) {
        LOG_ERR("Can not open file :%s, err:%s\n", path, strerror(errno));
        abort();
    }
    return LoadFromFile(fp);
}

bool CPngImage::LoadFromFile(FILE* fp) {
    glGenTextures(1, &m_uTexture);

    png_structp png_ptr = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    HARD_ASSERT(png_ptr);
    png_infop info_ptr = png_create_info_struct(png_ptr);
    HARD_ASSERT(info_ptr);
    png_init_io(png_ptr, fp);
    png_set_sig_bytes(png_ptr, 0);
    png_read_png(png_ptr, info_ptr, PNG_TRANSFORM_STRIP_16 | PNG_TRANSFORM_PACKING | PNG_TRANSFORM_EXPAND, nullptr);

    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bitDepth = 0;
    int colorType = 0;
    png_get_IHDR(png_ptr, info_ptr, &width, &height, &bitDepth, &colorType, nullptr, nullptr, nullptr);
    m_nWidth = static_cast<int32_t>(width);
    m_nHeight = static_cast<int32_t>(height);
    const size_t row_bytes = png_get_rowbytes(png_ptr, info_ptr);
    HARD_ASSERT(width * 4 == row_bytes || width * 3 == row_bytes);

    m_pData = static_cast<uint8_t*>(malloc(static_cast<size_t>(width) * height * 4));
    HARD_ASSERT(m_pData);
    png_bytepp rows = png_get_rows(png_ptr, info_ptr);
    for (png_uint_32 i = 0; i < height; ++i) {
        const uint8_t* src = rows[i];
        uint8_t* dst = m_pData + static_cast<size_t>(height - 1 - i) * width * 4;
        if (colorType & PNG_COLOR_MASK_ALPHA) {
            memcpy(dst, src, static_cast<size_t>(width) * 4);
            continue;
        }
        for (png_uint_32 px = 0; px < width; ++px, src += 3, dst += 4) {
            if (src[0] == 255 && src[1] == 255 && src[2] == 255) {
                dst[0] = dst[1] = dst[2] = 255;
                dst[3] = 0;
            } else if (m_uColor) {
                dst[0] = static_cast<uint8_t>(m_uColor);
                dst[1] = static_cast<uint8_t>(m_uColor >> 8);
                dst[2] = static_cast<uint8_t>(m_uColor >> 16);
                dst[3] = 255;
            } else {
                dst[0] = src[0];
                dst[1] = src[1];
                dst[2] = src[2];
                dst[3] = 255;
            }
        }
    }
    png_destroy_read_struct(&png_ptr, &info_ptr, nullptr);
    fclose(fp);

    glBindTexture(GL_TEXTURE_2D, m_uTexture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glTexImage2D(GL_TEXTURE_2D, 0, 4, m_nWidth, m_nHeight, 0, GL_RGBA, GL_UNSIGNED_BYTE, m_pData);
    glBindTexture(GL_TEXTURE_2D, 0);
    return true;
}

void CPngImage::Draw(float x, float y, float angle, b2Vec2 t0, b2Vec2 t1) const {
    glPushMatrix();
    glColor3ub(255, 255, 255);
    glBindTexture(GL_TEXTURE_2D, m_uTexture);
    glTranslatef(x, y, 0.0f);
    glRotatef(angle * 180.0f / PI_F, 0.0f, 0.0f, 1.0f);
    HARD_ASSERT(m_fHalfWidth && m_fHalfHeight);
    glBegin(GL_QUADS);
    glTexCoord2f(t0.x, t0.y);
    glVertex2f(-m_fHalfWidth, -m_fHalfHeight);
    glTexCoord2f(t0.x, t1.y);
    glVertex2f(-m_fHalfWidth, m_fHalfHeight);
    glTexCoord2f(t1.x, t1.y);
    glVertex2f(m_fHalfWidth, m_fHalfHeight);
    glTexCoord2f(t1.x, t0.y);
    glVertex2f(m_fHalfWidth, -m_fHalfHeight);
    glEnd();
    glBindTexture(GL_TEXTURE_2D, 0);
    glPopMatrix();
}

// ---------------------------------------------------------------- window

Display* Display::GetInstance() {
    static Display s_display;
    return &s_display;
}

XDisplayConnection* Display::OpenUsableDisplay() {
    XDisplayConnection* x = XOpenDisplay(nullptr);
    if (!x) return nullptr;
    // The window needs GLX and a double-buffered RGBA visual; freeglut would
    // end the process without either.
    int errorBase = 0;
    int eventBase = 0;
    if (glXQueryExtension(x, &errorBase, &eventBase)) {
        int attributes[] = {GLX_RGBA, GLX_DOUBLEBUFFER, None};
        XVisualInfo* visual = glXChooseVisual(x, DefaultScreen(x), attributes);
        if (visual) {
            XFree(visual);
            return x;
        }
    }
    XCloseDisplay(x);
    return nullptr;
}

bool Display::Init(int argc, char** argv) {
    // freeglut ends the process when it finds no display, so look first.
    XDisplayConnection* probe = OpenUsableDisplay();
    m_bWindowed = probe != nullptr;
    if (!m_bWindowed) return true;
    // The window library may take its own options out of the vector it gets:
    // it gets copies, and the caller's count and vector stay as they are.
    int argcCopy = argc;
    std::vector<char*> argvCopy(argv, argv + argc);
    argvCopy.push_back(nullptr);
    glutInit(&argcCopy, argvCopy.data());
    // Closed only now: an X server resets when its last client leaves, and
    // a connection attempt during the reset fails.
    XCloseDisplay(probe);
    XSetIOErrorHandler(OnXConnectionLost);
    return true;
}

void Display::Run(void (*entry)()) {
    // The frame loop is the match: without its thread there is none.
    if (!Platform::StartThread(m_pGameThread, entry))
        LOG_ERR("Start game thread err:%s\n", Platform::ErrorText(Platform::LastError()).c_str());
    HARD_ASSERT(m_pGameThread);
    if (!m_bWindowed) RunWithoutWindow();
    OpenWindow();
    LoadImages();
    glutMainLoop();
    // Only reached if the window went away without ending the match: the
    // game thread still ends the process.
    LOG_WARN("The window is gone; the match goes on without a window.\n");
    KeepMainThreadAlive();
}

void Display::RunWithoutWindow() {
    LOG_WARN("No X display with OpenGL can be opened; the match is played without a window.\n");
    KeepMainThreadAlive();
}

void Display::KeepMainThreadAlive() {
    if (m_pGameThread && m_pGameThread->joinable()) m_pGameThread->join();
    for (;;) Platform::SleepMs(PARKED_SLEEP_MS);
}

void Display::OpenWindow() {
    glutInitDisplayMode(GLUT_DOUBLE | GLUT_RGB);
    glutInitWindowSize(WINDOW_WIDTH, WINDOW_HEIGHT);
    glutCreateWindow(WINDOW_TITLE);
    glutDisplayFunc(OnDisplay);
    glutIdleFunc(OnDisplay);
    glClearColor(0.8f, 0.8f, 0.8f, 1.0f);
    glutWMCloseFunc(OnClose);
    // Closing the window ends the match through OnClose; the library itself
    // must never end the process on a close.
    glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_CONTINUE_EXECUTION);
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}

void Display::OnDisplay() { GetInstance()->Render(); }

void Display::OnClose() {
    Game::GetInstance()->RequestStop();
    Display* display = GetInstance();
    if (display->m_pGameThread && display->m_pGameThread->joinable()) display->m_pGameThread->join();
}

void Display::Render() {
    DisplayFrame* frame = m_pPendingFrame.exchange(nullptr);
    if (!frame) {
        // The idle callback lands here between snapshots: a short pause keeps
        // the main thread from spinning a core at 50 snapshots a second.
        Platform::SleepMs(1);
        return;
    }
    glClear(GL_COLOR_BUFFER_BIT);
    DrawScene(*frame);
    glutSwapBuffers();
    delete frame;
}

bool Display::IsLidarShown(int player, int robot) const { return (m_uLidarSwitch >> (player * 4 + robot)) & 1u; }

// ---------------------------------------------------------------- images

void Display::LoadImages() {
    char path[64];
    g_BackgroundImage.Init("Img/background.png");
    g_BannerImage.Init("Img/banner.png");
    SetHalfWidthKeepAspect(g_BannerImage, 15.0f);

    static const char* const ROBOT_FILES[2] = {"Img/robot.png", "Img/robot2.png"};
    static const char* const MONEY_FILES[2] = {"Img/money.png", "Img/money2.png"};
    for (int player = 0; player < 2; ++player) {
        g_RobotImage[player].Init(ROBOT_FILES[player]);
        g_MoneyImage[player].Init(MONEY_FILES[player]);
        SetHalfWidthKeepAspect(g_MoneyImage[player], 2.5f);
    }

    for (int player = 0; player < 2; ++player) {
        for (int type = 1; type <= 9; ++type) {
            for (int variant = 0; variant < 2; ++variant) {
                const char* suffix = variant ? "_p" : "";
                if (player == 0) {
                    snprintf(path, sizeof path, "Img/%d%s.png", type, suffix);
                } else {
                    snprintf(path, sizeof path, "Img/%c%s.png", 96 + type, suffix);
                }
                CPngImage& image = g_WorkbenchImage[player * 10 + type][variant];
                image.Init(path);
                SetHalfWidthKeepAspect(image, 0.5f);
            }
        }
    }

    for (int code = 33; code <= 127; ++code) {
        snprintf(path, sizeof path, "Img/font/%d.png", code);
        FILE* fp = fopen(path, "rb");
        if (!fp) continue;
        g_FontImage[code][0] = new CPngImage();
        g_FontImage[code][0]->LoadFromFile(fp);
        fp = fopen(path, "rb");
        if (!fp) {
            // The file vanished between the two readings: red text then
            // shows in the plain colour rather than not at all.
            LOG_WARN("Can not open file :%s again, err:%s\n", path, strerror(errno));
            g_FontImage[code][1] = g_FontImage[code][0];
            continue;
        }
        g_FontImage[code][1] = new CPngImage();
        g_FontImage[code][1]->m_uColor = RED_GLYPH_TINT;
        g_FontImage[code][1]->LoadFromFile(fp);
    }
}

void Display::DrawTextA(const char* text, float x, float y, int variant, float size, float spacing) const {
    TextPen pen(x, size, spacing);
    for (const char* p = text; *p; ++p) {
        const unsigned code = static_cast<unsigned char>(*p);
        CPngImage* glyph = code < 128 ? g_FontImage[code][variant ? 1 : 0] : nullptr;
        if (!glyph) {
            LOG_ERR("Can find Img/font/%d.png\n", static_cast<int>(code));
            abort();
        }
        GlyphPlacement place = pen.Place(glyph->m_nWidth, glyph->m_nHeight);
        glyph->m_fHalfHeight = place.halfHeight;
        glyph->m_fHalfWidth = place.halfWidth;
        glyph->Draw(place.x, y, 0.0f, TEX_LOWER_LEFT, TEX_UPPER_RIGHT);
    }
}

// ---------------------------------------------------------------- drawing

void Display::DrawScene(const DisplayFrame& frame) const {
    g_BackgroundImage.Draw(0.0f, 0.0f, 0.0f, TEX_LOWER_LEFT, TEX_UPPER_RIGHT);
    glPushMatrix();
    glTranslatef(-0.25f, -0.95f, 0.0f);
    glScalef(3.0f / 140.0f, 4.0f / 105.0f, 1.0f);
    g_BannerImage.Draw(-17.0f, 40.0f, 0.0f, TEX_LOWER_LEFT, TEX_UPPER_RIGHT);
    DrawArena();
    DrawFrame(frame);
    glPopMatrix();
}

void Display::DrawArena() const {
    const BarRect arena = {0.0f, 0.0f, MAP_SIZE, MAP_SIZE};
    glColor4ub(150, 150, 150, 150);
    DrawQuad(arena, GL_QUADS);

    glColor3ub(150, 100, 0);
    const Map& map = Game::GetInstance()->GetMap();
    const std::vector<std::vector<char>>& rows = map.GetMapData();
    if (!rows.empty() && !rows[0].empty()) {
        const float w = MAP_SIZE / static_cast<float>(rows[0].size());
        const float h = MAP_SIZE / static_cast<float>(rows.size());
        for (const b2Vec2& centre : map.GetPosList('#')) {
            glRectf(centre.x - w / 2.0f, centre.y - h / 2.0f, centre.x + w / 2.0f, centre.y + h / 2.0f);
        }
    }
    DrawQuad(arena, GL_LINE_LOOP);
}

void Display::DrawFrame(const DisplayFrame& frame) const {
    DrawWorkbenches(frame);
    DrawLidar(frame);
    DrawExploredCells(frame);
    DrawRobots(frame);
    DrawMoneyAndClock(frame);
}

void Display::DrawWorkbenches(const DisplayFrame& frame) const {
    for (int p = 0; p < 2; ++p) {
        for (const WorkbenchInfo& w : frame.m_workbenches[p]) {
            if (w.type < 1 || w.type > 9) {
                SOFT_ASSERT(w.type >= 1 && w.type <= 9);
                continue;
            }
            g_WorkbenchImage[p * 10 + w.type][w.ready ? 1 : 0].Draw(w.x, w.y, 0.0f, TEX_LOWER_LEFT,
                                                                   TEX_UPPER_RIGHT);
            if (w.progress >= 0.0f) {
                glColor3ub(0, 150, 0);
                DrawProgressBar(w.x, w.y + 0.5f, w.progress);
            }
            for (const LabelText& label : GetWorkbenchLabels(w)) {
                DrawTextA(label.text, label.x, label.y, label.variant, label.size, label.spacing);
            }
        }
    }
}

void Display::DrawLidar(const DisplayFrame& frame) const {
    for (int p = 0; p < 2; ++p) {
        if (p == 0) {
            glColor4ub(50, 50, 150, 30);
        } else {
            glColor4ub(150, 50, 50, 30);
        }
        for (int r = 0; r < 4; ++r) {
            if (!IsLidarShown(p, r)) continue;
            const RobotView& v = frame.m_robots[p * 4 + r];
            const int n = static_cast<int>(v.radar.size());
            for (int i = 0; i < n; ++i) {
                const b2Vec2 end = GetRayEnd(v, i, n);
                glBegin(GL_LINES);
                glVertex2f(v.x, v.y);
                glVertex2f(end.x, end.y);
                glEnd();
            }
        }
    }
}

void Display::DrawExploredCells(const DisplayFrame& frame) const {
    const std::vector<std::vector<char>>& rows = Game::GetInstance()->GetMap().GetMapData();
    if (rows.empty() || rows[0].empty()) return;
    const float cellWidth = MAP_SIZE / static_cast<float>(rows[0].size());
    const float cellHeight = MAP_SIZE / static_cast<float>(rows.size());
    const int rowCount = static_cast<int>(rows.size());
    uint8_t rgba[4];
    for (int r = 0; r < MAP_SIDE_CELLS; ++r) {
        for (int c = 0; c < MAP_SIDE_CELLS; ++c) {
            if (!GetCellShade(frame.m_seen[0][r][c], frame.m_seen[1][r][c], rgba)) continue;
            glColor4ub(rgba[0], rgba[1], rgba[2], rgba[3]);
            const float x = (static_cast<float>(c) + 0.5f) * cellWidth;
            const float y = (static_cast<float>(rowCount - r) - 0.5f) * cellHeight;
            glRectf(x - 0.25f, y - 0.25f, x + 0.25f, y + 0.25f);
        }
    }
}

void Display::DrawRobots(const DisplayFrame& frame) const {
    char digit[16];
    for (int p = 0; p < 2; ++p) {
        CPngImage& image = g_RobotImage[p];
        for (int r = 0; r < 4; ++r) {
            const RobotView& v = frame.m_robots[p * 4 + r];
            const b2Vec2 half = GetRobotHalfExtents(v.product, image.m_nWidth, image.m_nHeight);
            image.m_fHalfWidth = half.x;
            image.m_fHalfHeight = half.y;
            image.Draw(v.x, v.y, v.angle, TEX_LOWER_LEFT, TEX_UPPER_RIGHT);
            if (v.product == 0) continue;
            snprintf(digit, sizeof digit, "%d", v.product);
            DrawTextA(digit, v.x, v.y + 1.2f, 0, 1.0f, 0.0f);
            glColor3ub(255, 0, 0);
            DrawProgressBar(v.x, v.y + 0.7f, v.valueRate);
        }
    }
}

void Display::DrawMoneyAndClock(const DisplayFrame& frame) const {
    char text[64];
    for (int p = 0; p < 2; ++p) {
        const float y = 19.0f - 8.0f * static_cast<float>(p);
        g_MoneyImage[p].Draw(-29.0f, y, 0.0f, TEX_LOWER_LEFT, TEX_UPPER_RIGHT);
        snprintf(text, sizeof text, "%d", frame.m_money[p]);
        DrawTextA(text, -24.0f, y, 0, 6.0f, 0.0f);
    }
    FormatClock(frame.m_iSecondsLeft, text, sizeof text);
    DrawTextA(text, -23.0f, 28.0f, 0, 6.0f, 0.0f);
}

void Display::DrawProgressBar(float x, float y, float ratio) const {
    const ProgressBarGeometry bar = GetProgressBarGeometry(x, y, ratio);
    DrawQuad(bar.outer, GL_POLYGON);
    glColor3ub(255, 255, 255);
    DrawQuad(bar.blank, GL_POLYGON);
}

// ctest-labels: threads
// Real matches of the referee with its window on a real X server (a private
// Xvfb per test, or the one DISPLAY names), looked at through screenshots
// and closed through the window manager protocol; and a match without any
// display.
#include <gtest/gtest.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "DisplayProbe.h"
#include "Replay.pb.h"
#include "RunProcess.h"

// Xlib's macros (None, Bool, Status ...) come after everything else.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

using probe::Rgb;

namespace {

const char* const WINDOW_TITLE = "Zentrik Varnholt 2023";

// An X server of this test: a private Xvfb when there is one, else the
// server that DISPLAY names; Name() is empty when neither can be had.
class XServer {
public:
    XServer() {
        if (!StartXvfb()) {
            const char* display = getenv("DISPLAY");
            if (display && *display && Openable(display)) m_name = display;
        }
    }
    ~XServer() { Kill(); }

    const std::string& Name() const { return m_name; }
    bool IsOwn() const { return m_pid > 0; }
    void Pause() { kill(m_pid, SIGSTOP); }
    void Resume() { kill(m_pid, SIGCONT); }

    void Kill() {
        if (m_pid <= 0) return;
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

private:
    static bool Openable(const std::string& name) {
        ::Display* x = XOpenDisplay(name.c_str());
        if (!x) return false;
        XCloseDisplay(x);
        return true;
    }

    bool StartXvfb() {
        int fds[2];
        if (pipe(fds) != 0) return false;
        m_pid = fork();
        if (m_pid == 0) {
            close(fds[0]);
            int devNull = open("/dev/null", O_RDWR);
            dup2(devNull, 1);
            dup2(devNull, 2);
            std::string fd = std::to_string(fds[1]);
            // -noreset: the test's own probing connections come and go.
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1920x1080x24", "-nolisten", "tcp",
                   "-noreset", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        std::string number;
        char c;
        while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
        close(fds[0]);
        if (number.empty()) {
            Kill();
            return false;
        }
        m_name = ":" + number;
        return Openable(m_name);
    }

    pid_t m_pid = -1;
    std::string m_name;
};

// The test's own connection to the server, to find, photograph and close the window.
class XClient {
public:
    explicit XClient(const std::string& name) : m_display(XOpenDisplay(name.c_str())) {
        // A failed request must fail the test, not end the test program.
        XSetErrorHandler([](::Display*, XErrorEvent* error) {
            ADD_FAILURE() << "X error " << static_cast<int>(error->error_code) << " in request "
                          << static_cast<int>(error->request_code);
            return 0;
        });
    }
    ~XClient() {
        if (m_display) XCloseDisplay(m_display);
    }
    bool Ok() const { return m_display != nullptr; }

    // The top-level window with the title, waiting up to the time limit; 0 when there is none.
    Window WaitForWindow(const char* title, double seconds) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < deadline) {
            Window found = FindViewable(title);
            if (found) return found;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return 0;
    }

    bool Size(Window w, int& width, int& height) {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(m_display, w, &attributes)) return false;
        width = attributes.width;
        height = attributes.height;
        return true;
    }

    // The window as it shows on the screen.  The part of it outside the
    // screen (the window may stand at -1, -1 without a window manager) reads
    // as (-1, -1, -1).
    probe::Screenshot Shoot(Window w) {
        probe::Screenshot shot;
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(m_display, w, &attributes)) return shot;
        Window root = DefaultRootWindow(m_display);
        Window child;
        int wx = 0, wy = 0;
        XTranslateCoordinates(m_display, w, root, 0, 0, &wx, &wy, &child);
        const int screenW = DisplayWidth(m_display, DefaultScreen(m_display));
        const int screenH = DisplayHeight(m_display, DefaultScreen(m_display));
        const int x0 = std::max(0, wx), y0 = std::max(0, wy);
        const int x1 = std::min(screenW, wx + attributes.width), y1 = std::min(screenH, wy + attributes.height);
        if (x1 <= x0 || y1 <= y0) return shot;
        XImage* image = XGetImage(m_display, root, x0, y0, x1 - x0, y1 - y0, AllPlanes, ZPixmap);
        if (!image) return shot;
        shot.width = attributes.width;
        shot.height = attributes.height;
        shot.pixels.assign(static_cast<size_t>(shot.width) * shot.height, Rgb{-1, -1, -1});
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) {
                unsigned long p = XGetPixel(image, x - x0, y - y0);
                shot.pixels[static_cast<size_t>(y - wy) * shot.width + (x - wx)] = {
                    Channel(p, image->red_mask), Channel(p, image->green_mask), Channel(p, image->blue_mask)};
            }
        XDestroyImage(image);
        return shot;
    }

    // What a window manager sends when the user closes the window.
    void SendDeleteWindow(Window w) {
        XEvent event = {};
        event.xclient.type = ClientMessage;
        event.xclient.window = w;
        event.xclient.message_type = XInternAtom(m_display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(XInternAtom(m_display, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(m_display, w, False, NoEventMask, &event);
        XFlush(m_display);
    }

private:
    static int Channel(unsigned long pixel, unsigned long mask) {
        int shift = 0;
        while (mask && !(mask & 1)) {
            mask >>= 1;
            ++shift;
        }
        return static_cast<int>((pixel >> shift) & 0xFF);
    }

    Window FindViewable(const char* title) {
        Window root = DefaultRootWindow(m_display);
        Window parent, *children = nullptr;
        unsigned int count = 0;
        Window found = 0;
        if (!XQueryTree(m_display, root, &root, &parent, &children, &count)) return 0;
        for (unsigned int i = 0; i < count && !found; ++i) {
            char* name = nullptr;
            XWindowAttributes attributes;
            if (XFetchName(m_display, children[i], &name) && name) {
                if (strcmp(name, title) == 0 && XGetWindowAttributes(m_display, children[i], &attributes) &&
                    attributes.map_state == IsViewable)
                    found = children[i];
                XFree(name);
            }
        }
        if (children) XFree(children);
        return found;
    }

    ::Display* m_display;
};

std::string Absolute(const std::string& path) {
    char buf[PATH_MAX];
    return realpath(path.c_str(), buf) ? std::string(buf) : path;
}

// The arena in four sealed rooms (walls along row 50 and column 50):
// top left the first player's robots 0 and 1, top right the second player's
// robots 0 and 1, bottom left robots 2 and 3 of both players with one
// workbench of each, bottom right empty.
std::string RoomsMap() {
    std::vector<std::string> rows(100, std::string(100, '.'));
    for (int i = 0; i < 100; ++i) {
        rows[50][i] = '#';
        rows[i][50] = '#';
    }
    rows[10][10] = rows[10][30] = rows[70][10] = rows[70][30] = 'A';
    rows[10][70] = rows[10][90] = rows[90][10] = rows[90][30] = 'B';
    rows[80][20] = '1';
    rows[80][40] = 'a';
    std::string text;
    for (const std::string& row : rows) text += row + "\n";
    return text;
}

double CellX(int col) { return 0.5 * col + 0.25; }
double CellY(int row) { return 49.75 - 0.5 * row; }

// A working directory with the images (linked), the map and a replay path.
struct MatchDir {
    std::string dir;
    std::string map;
    std::string replay;

    MatchDir() {
        dir = Absolute(MakeTempDir("window"));
        map = dir + "/rooms.txt";
        replay = dir + "/match.rep";
        WriteFile(map, RoomsMap());
        std::filesystem::create_directory_symlink(std::string(SOURCE_DIR) + "/Img", dir + "/Img");
    }

    std::vector<std::string> Args(const std::vector<std::string>& options) const {
        std::vector<std::string> args = {"-m", map, "-r", replay};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(std::string(TESTPLAYER_DIR) + "/display_idle");
        args.push_back(std::string(TESTPLAYER_DIR) + "/display_idle");
        return args;
    }
};

std::future<RunResult> StartReferee(const std::vector<std::string>& args, RunOptions options) {
    return std::async(std::launch::async, [args, options] { return RunReferee(args, options); });
}

// A replay file whose header's frame lengths account for every byte after it.
void ExpectCompleteReplay(const std::string& path) {
    const std::string bytes = ReadFile(path);
    ASSERT_GE(bytes.size(), 4u) << "no replay file " << path;
    const uint32_t headerLen = static_cast<uint8_t>(bytes[0]) | static_cast<uint8_t>(bytes[1]) << 8 |
                               static_cast<uint8_t>(bytes[2]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(bytes[3])) << 24;
    ASSERT_LE(4u + headerLen, bytes.size());
    replay_protocol::Rep rep;
    ASSERT_TRUE(rep.ParseFromString(bytes.substr(4, headerLen)));
    size_t frames = 0;
    for (int32_t len : rep.length_of_frames()) frames += static_cast<size_t>(len);
    EXPECT_GT(rep.length_of_frames_size(), 0);
    EXPECT_EQ(4u + headerLen + frames, bytes.size());
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (m_server.Name().empty()) GTEST_SKIP() << "no X server: neither Xvfb nor an openable DISPLAY";
        // Mesa's software renderer hands work to threads of its own that it
        // syncs in ways ThreadSanitizer cannot see; rendering on the calling
        // thread keeps the sanitizer's reports to the referee's own threads.
        m_options.extraEnv = {"DISPLAY=" + m_server.Name(), "LP_NUM_THREADS=0"};
        m_options.unsetEnv = {"POSIXLY_CORRECT"};
        m_options.timeoutSeconds = 120;
        m_options.workDir = m_dir.dir;
    }

    // Screenshots until the room seen by both players shows the bare arena
    // (the window has drawn a snapshot of a played frame), or the time limit.
    probe::Screenshot WaitForDrawnArena(XClient& client, Window window, const probe::PngFile& background) {
        probe::Screenshot shot;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            shot = client.Shoot(window);
            int px, py;
            shot.ArenaToPixel(CellX(20), CellY(60), px, py);
            Rgb arena = probe::Blend({150, 150, 150}, 150, probe::BackgroundAt(background, shot, px, py));
            if (probe::Near(shot.At(px, py), arena)) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        return shot;
    }

    XServer m_server;
    MatchDir m_dir;
    RunOptions m_options;
};

bool IsDarkInk(Rgb c) { return c.r + c.g + c.b < 200; }

TEST_F(WindowTest, MatchInAWindowShowsTheSnapshotAndClosingEndsIt) {
    std::future<RunResult> referee = StartReferee(m_dir.Args({"-z", "0"}), m_options);
    XClient client(m_server.Name());
    ASSERT_TRUE(client.Ok());
    Window window = client.WaitForWindow(WINDOW_TITLE, 30);
    ASSERT_NE(window, 0u) << "no window titled " << WINDOW_TITLE;
    int width = 0, height = 0;
    ASSERT_TRUE(client.Size(window, width, height));
    EXPECT_EQ(width, 1680);
    EXPECT_EQ(height, 945);

    probe::PngFile background, bench1, benchA;
    ASSERT_TRUE(background.Load(probe::ImgPath("background.png")));
    ASSERT_TRUE(bench1.Load(probe::ImgPath("1.png")));
    ASSERT_TRUE(benchA.Load(probe::ImgPath("a.png")));
    const probe::Screenshot shot = WaitForDrawnArena(client, window, background);
    probe::KeepScreenshot(shot, "WindowTest_match");

    auto expectAt = [&](const char* what, double x, double y, Rgb expected) {
        int px, py;
        shot.ArenaToPixel(x, y, px, py);
        EXPECT_TRUE(probe::Near(shot.At(px, py), expected))
            << what << ": " << probe::ToString(shot.At(px, py)) << ", expected " << probe::ToString(expected);
    };
    auto arenaAt = [&](double x, double y) {
        int px, py;
        shot.ArenaToPixel(x, y, px, py);
        return probe::Blend({150, 150, 150}, 150, probe::BackgroundAt(background, shot, px, py));
    };
    expectAt("room seen by both players: bare arena", CellX(20), CellY(60), arenaAt(CellX(20), CellY(60)));
    expectAt("room seen by the first player only", CellX(20), CellY(30),
             probe::Blend({128, 0, 0}, 64, arenaAt(CellX(20), CellY(30))));
    expectAt("room seen by the second player only", CellX(80), CellY(30),
             probe::Blend({0, 0, 128}, 64, arenaAt(CellX(80), CellY(30))));
    expectAt("room nobody sees", CellX(75), CellY(75), probe::Blend({0, 0, 0}, 128, arenaAt(CellX(75), CellY(75))));
    expectAt("obstacle cell, never seen", CellX(20), CellY(50), probe::Blend({0, 0, 0}, 128, {150, 100, 0}));
    expectAt("first player's workbench of type 1", CellX(20) - 0.3, CellY(80) - 0.3, bench1.AtUv(0.2, 0.2));
    expectAt("second player's workbench of type 1", CellX(40) - 0.3, CellY(80) - 0.3, benchA.AtUv(0.2, 0.2));

    EXPECT_EQ(probe::ReadText(shot, -24.0, 19.0, 6.0, 6, "0123456789-", IsDarkInk), "200000");
    EXPECT_EQ(probe::ReadText(shot, -24.0, 11.0, 6.0, 6, "0123456789-", IsDarkInk), "200000");
    const std::string clock = probe::ReadText(shot, -23.0, 28.0, 6.0, 5, "0123456789:", IsDarkInk);
    // Four minutes less the few seconds it took to get here.
    EXPECT_TRUE(clock == "04:00" || (clock.size() == 5 && clock.compare(0, 3, "03:") == 0 && clock[3] >= '0' &&
                                     clock[3] <= '5' && clock[4] >= '0' && clock[4] <= '9'))
        << clock;

    client.SendDeleteWindow(window);
    ASSERT_EQ(referee.wait_for(std::chrono::seconds(60)), std::future_status::ready) << "the match did not end";
    RunResult result = referee.get();
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.signal, 0) << result.err;
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "{\"status\":\"Successful\",\"score\":[200000,200000]}\n") << result.err;
    ExpectCompleteReplay(m_dir.replay);
}

TEST_F(WindowTest, LostXServerLeavesTheMatchToEndOnItsOwn) {
    m_options.extraEnv.push_back("DISPLAY_IDLE_RED_FRAMES=200");
    std::future<RunResult> referee = StartReferee(m_dir.Args({}), m_options);
    {
        XClient client(m_server.Name());
        ASSERT_TRUE(client.Ok());
        Window window = client.WaitForWindow(WINDOW_TITLE, 30);
        ASSERT_NE(window, 0u);
    }
    m_server.Kill();
    ASSERT_EQ(referee.wait_for(std::chrono::seconds(90)), std::future_status::ready);
    RunResult result = referee.get();
    EXPECT_EQ(result.signal, 0) << result.err;
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "{\"status\":\"Runtime error.\",\"score\":[1000000,0]}\n") << result.err;
    EXPECT_NE(result.err.find("[WARN]Robot/Display.cpp"), std::string::npos) << result.err;
}

TEST_F(WindowTest, StalledXServerDoesNotHoldUpTheMatch) {
    if (!m_server.IsOwn()) GTEST_SKIP() << "needs an X server of the test's own to stall";
    // The second player leaves after 150 frames, so the match ends after
    // three seconds of play, however long the window is stuck.
    m_options.extraEnv.push_back("DISPLAY_IDLE_RED_FRAMES=150");
    std::future<RunResult> referee = StartReferee(m_dir.Args({}), m_options);
    {
        XClient client(m_server.Name());
        ASSERT_TRUE(client.Ok());
        ASSERT_NE(client.WaitForWindow(WINDOW_TITLE, 30), 0u);
    }
    m_server.Pause();
    const std::future_status ended = referee.wait_for(std::chrono::seconds(60));
    m_server.Resume();
    ASSERT_EQ(ended, std::future_status::ready) << "the match waited for the window";
    RunResult result = referee.get();
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "{\"status\":\"Runtime error.\",\"score\":[1000000,0]}\n") << result.err;
    EXPECT_NE(result.err.find("Player:2 crashed."), std::string::npos) << result.err;
}

TEST_F(WindowTest, MissingImageStopsTheProgramWhenTheWindowOpens) {
    // An image folder of its own, without the second player's robot.
    std::filesystem::remove(m_dir.dir + "/Img");
    std::filesystem::copy(std::string(SOURCE_DIR) + "/Img", m_dir.dir + "/Img",
                          std::filesystem::copy_options::recursive);
    std::filesystem::remove(m_dir.dir + "/Img/robot2.png");
    RunResult result = StartReferee(m_dir.Args({}), m_options).get();
    EXPECT_EQ(result.signal, SIGABRT) << result.err;
    EXPECT_NE(result.err.find("|CPngImage::Init|"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("Can not open file :Img/robot2.png, err:No such file or directory\n"), std::string::npos)
        << result.err;
    EXPECT_EQ(result.out, "");
}

TEST(WithoutDisplay, TheMatchIsPlayedWithoutAWindow) {
    MatchDir dir;
    RunOptions options;
    options.unsetEnv = {"DISPLAY", "POSIXLY_CORRECT"};
    options.extraEnv = {"DISPLAY_IDLE_RED_FRAMES=30"};
    options.timeoutSeconds = 60;
    options.workDir = dir.dir;
    RunResult result = RunReferee(dir.Args({"-f"}), options);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("[WARN]Robot/Display.cpp"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("played without a window"), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "{\"status\":\"Runtime error.\",\"score\":[1000000,0]}\n") << result.err;
}

}  // namespace

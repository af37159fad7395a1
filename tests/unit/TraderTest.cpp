// Our example players fed with frame messages written here: every answer
// carries the frame number it answers and well-formed commands, bare or
// short messages do not throw them, and the trader buys and sells only
// where a trade can pay.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "RunProcess.h"

namespace {

constexpr double PI_D = 3.14159265358979323846;

struct BenchSpec {
    int type;
    double x, y;
    int remain = -1;
    int haveMask = 0;
    int ready = 0;
};

struct RobotSpec {
    int nearIdx = -1;
    int product = 0;
    double heading = 0;
    double x = 10, y = 10;
};

struct FrameSpec {
    int frame = 1;
    int money = 200000;
    std::vector<BenchSpec> benches;
    std::vector<RobotSpec> robots = std::vector<RobotSpec>(4);
    bool lidar = true;       // 360 readings per robot
    int shortLidar = 0;      // when not 0: lidar lines of only that many readings
};

// The readings of an empty walled 50 m arena: distance to the border along
// each beam.
std::string BorderLidar(double x, double y, double heading, int count) {
    std::ostringstream line;
    line.precision(10);
    for (int i = 0; i < count; ++i) {
        double a = ((i + i) * PI_D) / 360.0 + heading;
        double c = std::cos(a), s = std::sin(a);
        double best = 100.0;
        if (c > 1e-12) best = std::min(best, (50.0 - x) / c);
        if (c < -1e-12) best = std::min(best, -x / c);
        if (s > 1e-12) best = std::min(best, (50.0 - y) / s);
        if (s < -1e-12) best = std::min(best, -y / s);
        line << (i ? " " : "") << static_cast<float>(best);
    }
    return line.str() + "\n";
}

std::string FrameText(const FrameSpec& f) {
    std::ostringstream out;
    out.precision(10);
    out << f.frame << ' ' << f.money << '\n' << f.benches.size() << '\n';
    for (const BenchSpec& b : f.benches)
        out << b.type << ' ' << b.x << ' ' << b.y << ' ' << b.remain << ' ' << b.haveMask << ' ' << b.ready << '\n';
    for (const RobotSpec& r : f.robots) {
        double rate = r.product ? 1 : 0;
        out << r.nearIdx << ' ' << r.product << ' ' << rate << ' ' << rate << " 0 0 0 " << r.heading << ' ' << r.x << ' '
            << r.y << '\n';
    }
    if (f.lidar)
        for (const RobotSpec& r : f.robots) out << BorderLidar(r.x, r.y, r.heading, f.shortLidar ? f.shortLidar : 360);
    out << "OK\n";
    return out.str();
}

std::string StartText(bool blue = true) { return blue ? "BLUE\nOK\n" : "RED\nOK\n"; }

// The answers written, each without its "OK" line.
std::vector<std::string> SplitAnswers(const std::string& out) {
    std::vector<std::string> answers;
    std::string current;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        if (line == "OK") {
            answers.push_back(current);
            current.clear();
        } else {
            current += line + "\n";
        }
    }
    return answers;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

// A frame answer must start with the frame number and hold only commands
// the referee accepts, with finite values within the robots' limits.
void ExpectWellFormed(const std::string& answer, int frame, double maxSpeed) {
    std::vector<std::string> lines = Lines(answer);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], std::to_string(frame));
    for (size_t k = 1; k < lines.size(); ++k) {
        std::istringstream words(lines[k]);
        std::string word, id, value, extra;
        words >> word >> id;
        ASSERT_TRUE(id.size() == 1 && id[0] >= '0' && id[0] <= '3') << lines[k];
        if (word == "forward" || word == "rotate") {
            ASSERT_TRUE(static_cast<bool>(words >> value)) << lines[k];
            char* end = nullptr;
            double v = strtod(value.c_str(), &end);
            EXPECT_EQ(*end, '\0') << lines[k];
            EXPECT_TRUE(std::isfinite(v)) << lines[k];
            if (word == "forward") {
                EXPECT_GE(v, -2.0) << lines[k];
                EXPECT_LE(v, maxSpeed) << lines[k];
            } else {
                EXPECT_LE(std::fabs(v), PI_D + 1e-3) << lines[k];
            }
        } else {
            EXPECT_TRUE(word == "buy" || word == "sell" || word == "destroy") << lines[k];
        }
        EXPECT_FALSE(static_cast<bool>(words >> extra)) << lines[k];
    }
}

RunResult RunPlayer(const std::string& name, const std::string& input) {
    RunOptions options;
    options.stdinText = input;
    options.timeoutSeconds = 30;
    options.unsetEnv = {"TRADER_DEBUG"};
    return RunProcess({std::string(PLAYER_DIR) + "/" + name}, options);
}

// A small layout: a type 1 workbench at (10, 10), a type 4 at (20, 10), a
// type 9 at (30, 30); robot 0 stands on the type 1.
FrameSpec TradingFrame() {
    FrameSpec f;
    f.benches = {{1, 10.25, 10.25, 10, 0, 1}, {4, 20.25, 10.25, -1, 0, 0}, {9, 30.25, 30.25, -1, 0, 0}};
    f.robots[0] = {0, 0, 0, 10.3, 10.2};
    f.robots[1] = {-1, 0, 0, 40, 40};
    f.robots[2] = {-1, 0, 0, 42, 40};
    f.robots[3] = {-1, 0, 0, 44, 40};
    return f;
}

bool HasCommand(const std::string& answer, const std::string& line) {
    for (const std::string& l : Lines(answer))
        if (l == line) return true;
    return false;
}

struct PlayerCase {
    const char* name;
    double maxSpeed;
};

class ExamplePlayerTest : public testing::TestWithParam<PlayerCase> {};

// Frames with gaps (as when the player was too slow for some) are each
// answered with their own number; the end of the input ends the program.
TEST_P(ExamplePlayerTest, AnswersEachFrameWithItsNumber) {
    const int frames[] = {1, 2, 5, 9, 10};
    std::string input = StartText();
    for (int n : frames) {
        FrameSpec f = TradingFrame();
        f.frame = n;
        input += FrameText(f);
    }
    RunResult r = RunPlayer(GetParam().name, input);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0);
    std::vector<std::string> answers = SplitAnswers(r.out);
    ASSERT_EQ(answers.size(), 6u) << r.out;
    EXPECT_EQ(answers[0], "");
    for (int k = 0; k < 5; ++k) ExpectWellFormed(answers[k + 1], frames[k], GetParam().maxSpeed);
}

// Messages that are bare or cut short: no workbenches, no lidar lines,
// lidar lines that are too short, a start text cut off.
TEST_P(ExamplePlayerTest, CopesWithBareMessages) {
    struct Row {
        const char* what;
        FrameSpec frame;
    };
    FrameSpec noBenches;
    FrameSpec noBenchesNoLidar;
    noBenchesNoLidar.lidar = false;
    FrameSpec noLidar = TradingFrame();
    noLidar.lidar = false;
    FrameSpec shortLidar = TradingFrame();
    shortLidar.shortLidar = 7;
    FrameSpec lastFrame = TradingFrame();
    lastFrame.frame = 12000;
    const Row rows[] = {{"no workbenches", noBenches},
                        {"no workbenches, no lidar", noBenchesNoLidar},
                        {"no lidar", noLidar},
                        {"short lidar lines", shortLidar},
                        {"the last frame", lastFrame}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::string input = StartText(false) + FrameText(row.frame) + FrameText(row.frame);
        RunResult r = RunPlayer(GetParam().name, input);
        EXPECT_EQ(r.exitCode, 0);
        std::vector<std::string> answers = SplitAnswers(r.out);
        ASSERT_EQ(answers.size(), 3u) << r.out;
        ExpectWellFormed(answers[1], row.frame.frame, 7.0);
        ExpectWellFormed(answers[2], row.frame.frame, 7.0);
    }
    // Input that ends inside the start text or inside a frame message.
    for (const char* input : {"", "BLUE\n", "BLUE\nOK\n5 200000\n0\n"}) {
        RunResult r = RunPlayer(GetParam().name, input);
        EXPECT_EQ(r.exitCode, 0) << input;
        EXPECT_EQ(r.signal, 0) << input;
    }
}

INSTANTIATE_TEST_SUITE_P(Players, ExamplePlayerTest,
                         testing::Values(PlayerCase{"idle", 6.0}, PlayerCase{"circler", 6.0},
                                         PlayerCase{"trader", 6.0}),
                         [](const testing::TestParamInfo<PlayerCase>& info) { return std::string(info.param.name); });

TEST(IdlePlayerTest, SendsNoCommand) {
    RunResult r = RunPlayer("idle", StartText() + FrameText(TradingFrame()));
    EXPECT_EQ(r.out, "OK\n1\nOK\n");
}

// The first answer to one frame message, after the handshake.
std::string TraderAnswer(const FrameSpec& f, bool blue = true) {
    RunResult r = RunPlayer("trader", StartText(blue) + FrameText(f));
    std::vector<std::string> answers = SplitAnswers(r.out);
    EXPECT_EQ(answers.size(), 2u) << r.out;
    return answers.size() == 2 ? answers[1] : std::string();
}

// A robot on a finished product buys it only when one of the own
// workbenches can take it and there is time left to bring it there.
TEST(TraderTest, BuysOnlyWhatItCanSell) {
    struct Row {
        const char* what;
        int buyerType;
        int buyerHave;
        int frame;
        bool buys;
    };
    const Row rows[] = {
        {"a type 4 takes product 1", 4, 0, 1, true},
        {"the type 4 already holds product 1", 4, 1 << 1, 1, false},
        {"a type 6 does not take product 1", 6, 0, 1, false},
        {"a type 9 always takes it", 9, 0, 1, true},
        {"too late in the match", 4, 0, 11990, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        FrameSpec f = TradingFrame();
        f.frame = row.frame;
        f.benches = {{1, 10.25, 10.25, 10, 0, 1}, {row.buyerType, 30.25, 10.25, -1, row.buyerHave, 0}};
        std::string answer = TraderAnswer(f);
        ExpectWellFormed(answer, row.frame, 6.0);
        EXPECT_EQ(HasCommand(answer, "buy 0"), row.buys) << answer;
        EXPECT_FALSE(HasCommand(answer, "buy 1") || HasCommand(answer, "buy 2") || HasCommand(answer, "buy 3"));
    }
}

TEST(TraderTest, NoPurchaseWithoutAFinishedProductOrMoney) {
    FrameSpec notReady = TradingFrame();
    notReady.benches[0].ready = 0;
    EXPECT_FALSE(HasCommand(TraderAnswer(notReady), "buy 0"));
    FrameSpec poor = TradingFrame();
    poor.money = 2999;
    EXPECT_FALSE(HasCommand(TraderAnswer(poor), "buy 0"));
}

// A carrying robot sells where it stands when that workbench takes the
// product and does not hold it yet.
TEST(TraderTest, SellsWhereTheSlotIsFree) {
    struct Row {
        const char* what;
        int type;
        int have;
        bool sells;
    };
    const Row rows[] = {
        {"free slot", 4, 0, true},
        {"slot held", 4, 1 << 1, false},
        {"other material held", 4, 1 << 2, true},
        {"not a material here", 6, 0, false},
        {"sink", 9, 0xFE, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        FrameSpec f = TradingFrame();
        f.benches = {{row.type, 20.25, 10.25, -1, row.have, 0}, {9, 40.25, 40.25, -1, 0, 0}};
        f.robots[0] = {0, 1, 0, 20.3, 10.2};
        std::string answer = TraderAnswer(f);
        ExpectWellFormed(answer, 1, 6.0);
        EXPECT_EQ(HasCommand(answer, "sell 0"), row.sells) << answer;
    }
}

// After a sale a robot may buy at the same workbench in the same answer.
TEST(TraderTest, SellsAndBuysInOneAnswer) {
    FrameSpec f = TradingFrame();
    f.benches = {{4, 20.25, 10.25, 0, 1 << 2, 1}, {7, 30.25, 10.25, -1, 0, 0}};
    f.robots[0] = {0, 1, 0, 20.3, 10.2};
    std::string answer = TraderAnswer(f);
    std::vector<std::string> lines = Lines(answer);
    auto sell = std::find(lines.begin(), lines.end(), "sell 0");
    auto buy = std::find(lines.begin(), lines.end(), "buy 0");
    ASSERT_NE(sell, lines.end()) << answer;
    ASSERT_NE(buy, lines.end()) << answer;
    EXPECT_LT(sell, buy);
}

// A robot that faces its target across open ground drives towards it; the
// second player may ask for more speed than the first.
TEST(TraderTest, DrivesTowardsTheTarget) {
    for (bool blue : {true, false}) {
        FrameSpec f = TradingFrame();
        f.robots[0] = {-1, 1, 0, 12.25, 10.25};  // carrying product 1, the type 4 straight ahead
        std::string answer = TraderAnswer(f, blue);
        ExpectWellFormed(answer, 1, blue ? 6.0 : 7.0);
        double speed = -99;
        for (const std::string& l : Lines(answer))
            if (l.rfind("forward 0 ", 0) == 0) speed = atof(l.c_str() + 10);
        EXPECT_GT(speed, 1.0) << answer;
    }
}

// The same messages give the same answers, so matches can be replayed.
TEST(TraderTest, IsDeterministic) {
    std::string input = StartText();
    FrameSpec f = TradingFrame();
    for (int n = 1; n <= 40; ++n) {
        f.frame = n;
        f.robots[1].x += 0.05;
        f.robots[1].heading = 0.01 * n;
        input += FrameText(f);
    }
    RunResult a = RunPlayer("trader", input);
    RunResult b = RunPlayer("trader", input);
    EXPECT_EQ(SplitAnswers(a.out).size(), 41u);
    EXPECT_EQ(a.out, b.out);
}

}  // namespace

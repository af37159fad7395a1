// ctest-labels: threads
// The text protocol with a player program: the start texts, the frame
// message to the byte, the decimal format against printf's, cutting answers
// at "OK", and every command line with its checks and messages.  (The first
// player's robots start the lidar workers, hence the label.)
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "DataStream.h"
#include "Platform.h"
#include "PlayerFixture.h"
#include "RunProcess.h"
#include "TestSupport.h"

using namespace std::string_literals;

namespace {

constexpr float FLOAT_PI = 3.14159274f;  // the float nearest to pi
constexpr float PRESET_SPEED = 3.0f;     // robot targets before each case
constexpr float PRESET_ROTATE = 1.0f;

std::string PlayerErr(const char* func, const std::string& message) {
    return LogLine("ERR", "Robot/Player.cpp", func, message);
}
std::string Crashed() { return PlayerErr("Player::PlayerCrash", "Player:1 crashed."); }
std::string ArgsSize(int count, const char* cmd) {
    return PlayerErr("Player::ControlRobot",
                     "Invalid args size:" + std::to_string(count) + ", player:0, cmd:" + cmd);
}
std::string ReadInf(const char* text) {
    return PlayerErr("Player::SafeAtoF", "Read inf('"s + text + "') from player, frame:1");
}

std::string Format10g(double value) {
    char buf[64];
    snprintf(buf, sizeof buf, "%.10g", value);
    return buf;
}

class ProtocolTest : public testing::Test {
protected:
    void SetUp() override {
        InitGameOnce();
        ASSERT_EQ(Game::GetInstance()->GetWorld().GetFrame(), 1);
        for (int i = 0; i < 2; ++i) PlayerTestPeer::Reset(GamePlayer(i));
        for (int id = 0; id < 4; ++id) {
            Robot& robot = GamePlayer(0).GetRobot(id);
            robot.m_fTargetSpeed = PRESET_SPEED;
            robot.m_fTargetRotate = PRESET_ROTATE;
        }
    }

    static Player& First() { return GamePlayer(0); }
};

// ---------------------------------------------------------------- commands

struct CommandCase {
    const char* name;
    const char* lines;   // the command lines of one answer to frame 1
    int32_t status;      // the player's status afterwards
    int robot;           // the robot whose targets change (the others keep theirs)
    float speed;         // its target speed and turn rate afterwards
    float rotate;
    std::string log;     // every log line, whole
};

TEST_F(ProtocolTest, CommandLines) {
    const float maxSpeed = 6.0f;
    const CommandCase cases[] = {
        {"speed that is no number", "forward 0 abc\n", 1, 0, 0.0f, PRESET_ROTATE, ""},
        {"nan", "forward 0 nan\n", 1, 0, 0.0f, PRESET_ROTATE, ReadInf("nan")},
        {"beyond the float range", "forward 0 1e39\n", 1, 0, 0.0f, PRESET_ROTATE, ReadInf("1e39")},
        {"minus infinity", "rotate 2 -inf\n", 1, 2, PRESET_SPEED, 0.0f, ReadInf("-inf")},
        {"largest double that narrows to a finite float", "forward 0 3.4028235677973362e38\n", 1, 0, maxSpeed,
         PRESET_ROTATE, ""},
        {"smallest double that narrows to infinity", "forward 0 3.4028235677973366e38\n", 1, 0, 0.0f,
         PRESET_ROTATE, ReadInf("3.4028235677973366e38")},
        {"speed above the limit", "forward 0 100\n", 1, 0, maxSpeed, PRESET_ROTATE, ""},
        {"speed below the reverse limit", "forward 3 -5.5\n", 1, 3, -2.0f, PRESET_ROTATE, ""},
        {"speed within the limits", "forward 1 2.5\n", 1, 1, 2.5f, PRESET_ROTATE, ""},
        {"turn rate below the limit", "rotate 1 -10\n", 1, 1, PRESET_SPEED, -FLOAT_PI, ""},
        {"turn rate within the limits", "rotate 3 0.25\n", 1, 3, PRESET_SPEED, 0.25f, ""},
        {"hexadecimal value, as atof reads it", "forward 2 0x1p1\n", 1, 2, 2.0f, PRESET_ROTATE, ""},
        {"robot id without leading digits", "forward x 1\n", 1, 0, 1.0f, PRESET_ROTATE, ""},
        {"robot id with a plus sign and a tail", "forward +2abc 1\n", 1, 2, 1.0f, PRESET_ROTATE, ""},
        {"blanks and tabs between words", "\t forward\t\t1  \t4 \n", 1, 1, 4.0f, PRESET_ROTATE, ""},
        {"robot id 4", "forward 4 1\n", 4, 0, PRESET_SPEED, PRESET_ROTATE,
         PlayerErr("Player::ControlRobot", "Invalid robot id:4") + Crashed()},
        {"robot id -1", "forward -1 1\n", 4, 0, PRESET_SPEED, PRESET_ROTATE,
         PlayerErr("Player::ControlRobot", "Invalid robot id:-1") + Crashed()},
        {"robot id that wraps to 0 in 32 bits", "forward 4294967296 1\n", 4, 0, PRESET_SPEED, PRESET_ROTATE,
         PlayerErr("Player::ControlRobot", "Invalid robot id:2147483647") + Crashed()},
        {"robot id of 30 digits", "forward 999999999999999999999999999999 1\n", 4, 0, PRESET_SPEED,
         PRESET_ROTATE, PlayerErr("Player::ControlRobot", "Invalid robot id:2147483647") + Crashed()},
        {"negative robot id of 30 digits", "rotate -999999999999999999999999999999 1\n", 4, 0, PRESET_SPEED,
         PRESET_ROTATE, PlayerErr("Player::ControlRobot", "Invalid robot id:-2147483648") + Crashed()},
        {"forward without a value", "forward 0\n", 4, 0, PRESET_SPEED, PRESET_ROTATE, ArgsSize(1, "forward") + Crashed()},
        {"forward with three arguments", "forward 0 1 2\n", 4, 0, PRESET_SPEED, PRESET_ROTATE,
         ArgsSize(3, "forward") + Crashed()},
        {"buy with two arguments", "buy 0 1\n", 4, 0, PRESET_SPEED, PRESET_ROTATE, ArgsSize(2, "buy") + Crashed()},
        {"unknown word with one argument", "jump 0\n", 4, 0, PRESET_SPEED, PRESET_ROTATE, ArgsSize(1, "jump") + Crashed()},
        {"unknown word with two arguments", "jump 0 1\n", 4, 0, PRESET_SPEED, PRESET_ROTATE,
         PlayerErr("Player::ControlRobot", "Invalid command:jump") + Crashed()},
        {"unknown word is read as a value first", "jump 0 nan\n", 4, 0, PRESET_SPEED, PRESET_ROTATE,
         ReadInf("nan") + PlayerErr("Player::ControlRobot", "Invalid command:jump") + Crashed()},
        {"unknown word with a bad robot id", "jump 9 1\n", 4, 0, PRESET_SPEED, PRESET_ROTATE,
         PlayerErr("Player::ControlRobot", "Invalid robot id:9") + Crashed()},
        {"upper-case word", "FORWARD 0 1\n", 4, 0, PRESET_SPEED, PRESET_ROTATE,
         PlayerErr("Player::ControlRobot", "Invalid command:FORWARD") + Crashed()},
        {"word without arguments", "sell\n", 4, 0, PRESET_SPEED, PRESET_ROTATE, ArgsSize(0, "sell") + Crashed()},
        {"buy away from every workbench, then more commands", "buy 0\nforward 0 1\n", 1, 0, 1.0f, PRESET_ROTATE,
         LogLine("INFO", "Robot/Robot.cpp", "Robot::Buy", "Not near any workbench")},
        {"sell and destroy with nothing carried", "sell 1\ndestroy 1\nrotate 1 -1\n", 1, 1, PRESET_SPEED, -1.0f,
         LogLine("INFO", "Robot/Robot.cpp", "Robot::Sell", "There's no product on the robot") +
             LogLine("INFO", "Robot/Robot.cpp", "Robot::DestroyProduct", "There's no product on the robot")},
        {"a bad command stops the answer's later commands", "forward 0 1\nbad\nrotate 0 2\n", 4, 0, 1.0f,
         PRESET_ROTATE, ArgsSize(0, "bad") + Crashed()},
        {"the later of two commands wins", "forward 0 1\nforward 0 -1\n", 1, 0, -1.0f, PRESET_ROTATE, ""},
    };
    for (const CommandCase& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        PlayerTestPeer::SetStatus(First(), 2);
        StderrCapture capture;
        PlayerTestPeer::Read(First(), "1\n"s + c.lines + "OK\n");
        EXPECT_EQ(capture.Take(), c.log);
        EXPECT_EQ(First().GetStatus(), c.status);
        EXPECT_EQ(First().GetAnsweredFrames(), 1);
        for (int id = 0; id < 4; ++id) {
            const Robot& robot = First().GetRobot(id);
            const float speed = id == c.robot ? c.speed : PRESET_SPEED;
            const float rotate = id == c.robot ? c.rotate : PRESET_ROTATE;
            EXPECT_EQ(FloatBits(robot.m_fTargetSpeed), FloatBits(speed)) << "robot " << id << ": " << robot.m_fTargetSpeed;
            EXPECT_EQ(FloatBits(robot.m_fTargetRotate), FloatBits(rotate)) << "robot " << id << ": " << robot.m_fTargetRotate;
        }
    }
}

// ---------------------------------------------------------------- answers

// One step of a stream case: bytes read from the program, a new status (as
// a frame message would set), or a check of the status at that point.
struct Step {
    enum Kind { Read, SetStatus, ExpectStatus } kind;
    std::string text;
    int32_t status;
};
Step R(const std::string& text) { return {Step::Read, text, 0}; }
Step S(int32_t status) { return {Step::SetStatus, "", status}; }
Step Expect(int32_t status) { return {Step::ExpectStatus, "", status}; }

struct StreamCase {
    const char* name;
    int32_t startStatus;
    std::vector<Step> steps;
    int32_t status;
    int32_t answered;
    std::optional<std::string> pending;  // text still held without an "OK"
    float speed;                         // robot 0's targets afterwards
    float rotate;
    std::string log;
};

TEST_F(ProtocolTest, AnswersInOneStream) {
    const std::string x4096(4096, 'x');
    const StreamCase cases[] = {
        {"text before the first OK is the handshake", 0, {R("whatever it says\r\nOK\n")}, 1, 0, "",
         PRESET_SPEED, PRESET_ROTATE, ""},
        {"two OK before any frame message", 0, {R("ready OK\nOK\n")}, 4, 0, std::nullopt, PRESET_SPEED,
         PRESET_ROTATE, PlayerErr("Player::ProcData", "Output format err. stat:1") + Crashed()},
        {"OK directly followed by the next answer loses its first character", 2,
         {R("1\nforward 0 1\nOKforward 0 5\n"), Expect(1), S(2), R("OK")}, 4, 1, std::nullopt, 1.0f,
         PRESET_ROTATE, PlayerErr("Player::ProcData", "Output format err at line 1.") + Crashed()},
        {"the character after OK is dropped whatever it is", 2, {R("1\nOK12\nforward 0 5\n")}, 1, 1,
         "2\nforward 0 5\n", PRESET_SPEED, PRESET_ROTATE, ""},
        {"a command word containing OK ends the answer there", 2, {R("1\nforward 0 1\nbrOKen 0 2\nOK\n")}, 4, 1,
         std::nullopt, 1.0f, PRESET_ROTATE, ArgsSize(0, "br") + Crashed()},
        {"8192 characters without OK are held, 9000 are a format error", 2,
         {R(x4096), R(x4096), Expect(2), R(std::string(808, 'x'))}, 4, 0, std::string(9000, 'x'), PRESET_SPEED,
         PRESET_ROTATE, PlayerErr("Player::HandleRead", "Can not get 'OK' from stdout.") + Crashed()},
        {"8193 characters in one read", 2, {R(std::string(8193, 'y'))}, 4, 0, std::string(8193, 'y'),
         PRESET_SPEED, PRESET_ROTATE, PlayerErr("Player::HandleRead", "Can not get 'OK' from stdout.") + Crashed()},
        {"CR LF line ends; the LF after OK starts the next answer", 2,
         {R("1\r\nforward 0 2\r\nrotate 0 -1.5\r\nOK\r\n"), Expect(1), S(2), R("2\r\nforward 0 -2\r\nOK\r\n")}, 1, 2,
         "\n", -2.0f, -1.5f, ""},
        {"empty lines vanish and 12abc is frame 12", 2, {R("\n\r\n\n12abc\n\n\nforward 0 4\n\n \t \nOK\n")}, 1, 1,
         "", 4.0f, PRESET_ROTATE, ""},
        {"frame line read as %d: white space and a sign", 2, {R("\v\f -7 z\nforward 0 4\nOK")}, 1, 1, "", 4.0f,
         PRESET_ROTATE, ""},
        {"first line without a number", 2, {R("abc\nforward 0 4\nOK\n")}, 4, 0, std::nullopt, PRESET_SPEED,
         PRESET_ROTATE, PlayerErr("Player::ProcData", "Output format err at line 1.") + Crashed()},
        {"first line of a sign only", 2, {R("+\nforward 0 4\nOK\n")}, 4, 0, std::nullopt, PRESET_SPEED,
         PRESET_ROTATE, PlayerErr("Player::ProcData", "Output format err at line 1.") + Crashed()},
        {"first line of blanks only", 2, {R(" \t \n5\nOK\n")}, 4, 0, std::nullopt, PRESET_SPEED, PRESET_ROTATE,
         PlayerErr("Player::ProcData", "Output format err at line 1.") + Crashed()},
        {"answer without any line", 2, {R("\r\n\r\nOK\n")}, 4, 0, std::nullopt, PRESET_SPEED, PRESET_ROTATE,
         PlayerErr("Player::ProcData", "Empty output.") + Crashed()},
        {"a NUL byte ends the parsed text", 2, {R("1\nforward 0 2\0\nrotate 0 2\nOK\n"s)}, 1, 1, "", 2.0f,
         PRESET_ROTATE, ""},
        {"a NUL byte before the frame line", 2, {R("\0"s + "1\nforward 0 2\nOK\n")}, 4, 0, std::nullopt,
         PRESET_SPEED, PRESET_ROTATE, PlayerErr("Player::ProcData", "Empty output.") + Crashed()},
        {"an answer spanning three reads", 2, {R("1\nforw"), R("ard 0 4\nO"), Expect(2), R("K\n")}, 1, 1, "", 4.0f,
         PRESET_ROTATE, ""},
        {"a command failing after the frame line counts the answer", 2, {R("7\nbad\nOK\n")}, 4, 1, std::nullopt,
         PRESET_SPEED, PRESET_ROTATE, ArgsSize(0, "bad") + Crashed()},
        {"text after a format error is still cut at its OK", 2, {R("abc\nOK\n"), R("tail")}, 4, 0, "tail",
         PRESET_SPEED, PRESET_ROTATE, PlayerErr("Player::ProcData", "Output format err at line 1.") + Crashed()},
        {"input after the player is over is cut and ignored", 4, {R("1\nforward 0 4\nOK\n"), R("2\nOK")}, 4, 0, "",
         PRESET_SPEED, PRESET_ROTATE, ""},
        {"an answer while the status is 1", 1, {R("1\nforward 0 4\nOK\n")}, 4, 0, std::nullopt, PRESET_SPEED,
         PRESET_ROTATE, PlayerErr("Player::ProcData", "Output format err. stat:1") + Crashed()},
    };
    for (const StreamCase& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        PlayerTestPeer::SetStatus(First(), c.startStatus);
        StderrCapture capture;
        for (const Step& step : c.steps) {
            if (step.kind == Step::Read) PlayerTestPeer::Read(First(), step.text);
            if (step.kind == Step::SetStatus) PlayerTestPeer::SetStatus(First(), step.status);
            if (step.kind == Step::ExpectStatus) {
                EXPECT_EQ(First().GetStatus(), step.status);
            }
        }
        EXPECT_EQ(capture.Take(), c.log);
        EXPECT_EQ(First().GetStatus(), c.status);
        EXPECT_EQ(First().GetAnsweredFrames(), c.answered);
        if (c.pending) {
            EXPECT_EQ(PlayerTestPeer::PendingText(First()), *c.pending);
        }
        EXPECT_EQ(FloatBits(First().GetRobot(0).m_fTargetSpeed), FloatBits(c.speed)) << First().GetRobot(0).m_fTargetSpeed;
        EXPECT_EQ(FloatBits(First().GetRobot(0).m_fTargetRotate), FloatBits(c.rotate)) << First().GetRobot(0).m_fTargetRotate;
    }
}

// ---------------------------------------------------------------- frame message

// The message of a ready player with three workbenches, moving and turned
// robots, one robot at a workbench, and one without lidar values.
TEST_F(ProtocolTest, FrameMessageBytes) {
    Player& player = First();
    const float angles[4] = {3.5f, -3.5f, 7.0f, FLOAT_PI};
    for (int id = 0; id < 4; ++id) {
        b2Body* body = player.GetRobot(id).m_pBody;
        body->SetTransform(body->GetPosition(), angles[id]);
    }
    // Robot 3 stands on the second workbench (type 4 at 30.25, 24.75).
    player.GetRobot(3).m_pBody->SetTransform(b2Vec2(30.25f, 24.75f), FLOAT_PI);
    player.GetRobot(2).m_pBody->SetLinearVelocity(b2Vec2(0.45f, -2.0f));
    player.GetRobot(2).m_pBody->SetAngularVelocity(0.5f);

    std::vector<float> lidar(360);
    for (int i = 0; i < 360; ++i) lidar[i] = 0.37f + static_cast<float>(i) * 0.273f;
    lidar[0] = 100.0f;
    lidar[1] = 0.5f;
    lidar[2] = 0.45f;
    player.GetRobot(0).m_radar = lidar;
    player.GetRobot(1).m_radar.clear();
    player.GetRobot(2).m_radar = std::vector<float>(360, 1.0e-7f);
    player.GetRobot(3).m_radar = std::vector<float>(360, 12.25f);

    std::string expected = "1 200000\n3\n";
    for (const WorkbenchInfo& info : player.GetWorkbenches().CollectInfo()) {
        char buf[128];
        snprintf(buf, sizeof buf, "%d %.10g %.10g %d %d %d\n", info.type, static_cast<double>(info.x),
                 static_cast<double>(info.y), info.remain, static_cast<int>(info.haveMask), info.ready);
        expected += buf;
    }
    expected += "-1 0 0 0 0 0 0 -2.783185482 5.25 44.75\n";
    expected += "-1 0 0 0 0 0 0 2.783185482 10.25 44.75\n";
    expected += "-1 0 0 0 0.5 0.4499999881 -2 0.716814518 15.25 44.75\n";
    expected += "1 0 0 0 0 0 0 -3.141592741 30.25 24.75\n";
    std::string line0 = "100 0.5 0.4499999881";
    for (int i = 3; i < 360; ++i) line0 += " " + Format10g(lidar[i]);
    expected += line0 + "\n";
    std::string line2 = Format10g(1.0e-7f);
    for (int i = 1; i < 360; ++i) line2 += " " + Format10g(1.0e-7f);
    expected += line2 + "\n";
    std::string line3 = "12.25";
    for (int i = 1; i < 360; ++i) line3 += " 12.25";
    expected += line3 + "\n";
    expected += "OK\n";

    player.BuildFrameMessage();
    const DataStream& stream = player.GetStream();
    EXPECT_EQ(std::string(stream.GetData(), stream.GetSize()), expected);
    EXPECT_EQ(stream.GetRemainSize(), 131072 - static_cast<int64_t>(expected.size()));
}

// A lidar line is written again from its last text only while the readings
// keep their bit patterns: 0 and -0 compare equal but are written apart,
// and a non-finite reading is checked (and logged) every time it is sent.
TEST_F(ProtocolTest, LidarLinesFollowTheReadingsBitForBit) {
    Player& player = First();
    for (int id = 0; id < 4; ++id) player.GetRobot(id).m_radar = std::vector<float>(360, 7.0f);
    // Lines of the message: the four lidar lines come last, before "OK".
    auto lidarLine = [&player](int robot) {
        player.BuildFrameMessage();
        std::vector<std::string> lines;
        const std::string text(player.GetStream().GetData(), player.GetStream().GetSize());
        for (size_t begin = 0; begin < text.size();) {
            const size_t end = text.find('\n', begin);
            lines.push_back(text.substr(begin, end - begin));
            begin = end + 1;
        }
        return lines[lines.size() - 5 + robot];
    };
    const struct {
        const char* name;
        float first;  // reading 0 of robot 1
        std::string text;
        bool checked;
    } cases[] = {
        {"plain", 2.5f, "2.5", false},
        {"the same again", 2.5f, "2.5", false},
        {"zero", 0.0f, "0", false},
        {"minus zero", -0.0f, "-0", false},
        {"zero after minus zero", 0.0f, "0", false},
        {"not a number", std::nanf(""), "nan", true},
        {"not a number again", std::nanf(""), "nan", true},
        {"back to a number", 2.5f, "2.5", false},
    };
    Robot& robot = player.GetRobot(1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        robot.m_radar = std::vector<float>(360, 7.0f);
        robot.m_radar[0] = c.first;
        StderrCapture capture;
        const std::string line = lidarLine(1);
        EXPECT_EQ(line.substr(0, line.find(' ')), c.text);
        EXPECT_EQ(line.size(), c.text.size() + 359 * 2);
        const std::string log = capture.Take();
        EXPECT_EQ(log.find("assert \"isfinite(fVal)\" failed") != std::string::npos, c.checked) << log;
    }
}

TEST_F(ProtocolTest, FrameMessageOfAPlayerWithoutWorkbenches) {
    Player& player = GamePlayer(1);
    player.MoneyRef() = -5;
    player.BuildFrameMessage();
    EXPECT_EQ(std::string(player.GetStream().GetData(), player.GetStream().GetSize()),
              "1 -5\n"
              "0\n"
              "-1 0 0 0 0 0 0 0 5.25 9.75\n"
              "-1 0 0 0 0 0 0 0 10.25 9.75\n"
              "-1 0 0 0 0 0 0 0 15.25 9.75\n"
              "-1 0 0 0 0 0 0 0 20.25 9.75\n"
              "OK\n");
}

TEST_F(ProtocolTest, NoFrameMessageUnlessReady) {
    Player& player = GamePlayer(1);
    player.BuildFrameMessage();
    const std::string before(player.GetStream().GetData(), player.GetStream().GetSize());
    for (int32_t status : {0, 2, 4, 5}) {
        SCOPED_TRACE(status);
        PlayerTestPeer::SetStatus(player, status);
        player.MoneyRef() = 777;
        StderrCapture capture;
        player.WriteData();
        EXPECT_EQ(capture.Take(), "");
        EXPECT_EQ(player.GetStatus(), status);
        EXPECT_EQ(std::string(player.GetStream().GetData(), player.GetStream().GetSize()), before);
    }
}

TEST(DataStreamTest, NonFiniteValuesAreCheckedAndWrittenAsFormatted) {
    auto stream = std::make_unique<DataStream>();
    StderrCapture capture;
    stream->AddFloat(std::numeric_limits<float>::infinity(), ' ');
    stream->AddVec(b2Vec2(-std::numeric_limits<float>::infinity(), std::nanf("")), '\0');
    stream->AddInt(-2147483647 - 1, '\n');
    const std::string log = capture.Take();
    EXPECT_EQ(std::string(stream->GetData(), stream->GetSize()), "inf -inf nan-2147483648\n");
    const char* file = "Robot/DataStream.cpp";
    EXPECT_EQ(log, LogLine("ASSERT", file, "DataStream::AddFloat", "assert \"isfinite(fVal)\" failed") +
                       LogLine("ASSERT", file, "DataStream::AddVec", "assert \"isfinite(stVec.x)\" failed") +
                       LogLine("ASSERT", file, "DataStream::AddVec", "assert \"isfinite(stVec.y)\" failed"));
}

// Fields are written only while they fit: the buffer is never overrun, the
// text stays a prefix of whole fields, and the remaining size counts what
// did not fit.
TEST(DataStreamTest, TextThatOutgrowsTheBufferIsCutAtAField) {
    auto stream = std::make_unique<DataStream>();
    std::string whole;
    for (int i = 0; i < 30000; ++i) {
        const float value = 1.0f / static_cast<float>(i + 3);
        stream->AddFloat(value, ' ');
        whole += Format10g(value) + " ";
    }
    const std::string text(stream->GetData(), stream->GetSize());
    ASSERT_GT(whole.size(), 131072u);
    EXPECT_LE(text.size(), 131072u);
    EXPECT_EQ(whole.compare(0, text.size(), text), 0);
    EXPECT_EQ(text.back(), ' ');
    EXPECT_EQ(stream->GetRemainSize(), 131072 - static_cast<int64_t>(whole.size()));
    stream->Reset();
    stream->AddChar('O');
    EXPECT_EQ(stream->GetSize(), 1u);
    EXPECT_EQ(stream->GetRemainSize(), 131071);
}

// The fast decimal writer against printf's "%.10g" of the float widened to
// double: random bit patterns (so infinities, NaNs and subnormals too),
// lidar-like lengths, every float that is a rounding tie at ten digits in a
// wide band of magnitudes, and the extremes.
TEST(DataStreamTest, DecimalsMatchPrintf) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    const int scale = 8;
#else
    const int scale = 1;
#endif
    std::vector<float> values = {0.0f, -0.0f, 1.0f, -1.0f, 100.0f, 0.5f, 0.45f, FLOAT_PI,
                                 std::numeric_limits<float>::min(), std::numeric_limits<float>::max(),
                                 std::numeric_limits<float>::denorm_min(), -std::numeric_limits<float>::max(),
                                 std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                                 BitsFloat(0x7FC00000), BitsFloat(0xFFC00000), BitsFloat(0x7F800001), BitsFloat(0xFFBFFFFF),
                                 1e10f, 9999999999.0f, 1e-5f, 0.0001f, 0.00001f, 123456.789f, 1e9f, 1e-4f};
    std::mt19937 rng(20230417);
    for (int i = 0; i < 3000000 / scale; ++i) values.push_back(BitsFloat(static_cast<uint32_t>(rng())));
    std::uniform_real_distribution<float> lidar(0.0f, 100.0f);
    for (int i = 0; i < 1000000 / scale; ++i) values.push_back(lidar(rng));
    // (1 + j / 2^11) * 2^e has 11 or fewer significant digits in [1, 2) * 2^e
    // for small e: among them the exact ties of ten-digit rounding.
    for (int e = -40; e <= 40; ++e) {
        for (int j = 0; j < 2048; ++j) values.push_back(std::ldexp(1.0f + static_cast<float>(j) / 2048.0f, e));
    }
    for (int p = -45; p <= 38; ++p) {
        const float f = strtof(("1e" + std::to_string(p)).c_str(), nullptr);
        values.push_back(f);
        values.push_back(std::nextafter(f, 0.0f));
        values.push_back(std::nextafter(f, std::numeric_limits<float>::infinity()));
    }

    auto stream = std::make_unique<DataStream>();
    const int savedLevel = g_logLevel;
    g_logLevel = LOG_LEVEL_NONE;  // the non-finite values' checks
    size_t mismatches = 0;
    for (float value : values) {
        stream->Reset();
        stream->AddFloat(value, '\0');
        const std::string expected = Format10g(value);
        if (expected.size() != stream->GetSize() || memcmp(expected.data(), stream->GetData(), expected.size()) != 0) {
            if (++mismatches <= 10) {
                ADD_FAILURE() << "bits 0x" << std::hex << FloatBits(value) << ": printf " << expected << ", stream "
                              << std::string(stream->GetData(), stream->GetSize());
            }
        }
    }
    g_logLevel = savedLevel;
    EXPECT_EQ(mismatches, 0u) << "of " << values.size() << " values";
}

// Every one of the 2^32 floats, on four threads: several minutes, so run by
// hand (--gtest_also_run_disabled_tests) after a change to the writer.
TEST(DataStreamTest, DISABLED_DecimalsMatchPrintfForEveryFloat) {
    const int savedLevel = g_logLevel;
    g_logLevel = LOG_LEVEL_NONE;
    std::atomic<uint64_t> mismatches{0};
    std::atomic<uint64_t> firstBad{0};
    auto check = [&](uint64_t begin, uint64_t end) {
        auto stream = std::make_unique<DataStream>();
        char expected[64];
        for (uint64_t bits = begin; bits < end; ++bits) {
            const float value = BitsFloat(static_cast<uint32_t>(bits));
            stream->Reset();
            stream->AddFloat(value, '\0');
            const int len = snprintf(expected, sizeof expected, "%.10g", static_cast<double>(value));
            if (static_cast<uint32_t>(len) != stream->GetSize() || memcmp(expected, stream->GetData(), len) != 0) {
                if (mismatches++ == 0) firstBad = bits;
            }
        }
    };
    std::vector<std::thread> workers;
    const uint64_t total = uint64_t{1} << 32;
    for (uint64_t t = 0; t < 4; ++t) workers.emplace_back(check, total * t / 4, total * (t + 1) / 4);
    for (std::thread& worker : workers) worker.join();
    g_logLevel = savedLevel;
    EXPECT_EQ(mismatches.load(), 0u) << "first at bits 0x" << std::hex << firstBad.load();
}

// ---------------------------------------------------------------- real program

// The start texts and a frame message as a real program reads them: each
// player's program copies its standard input into a file.
TEST_F(ProtocolTest, StartTextsAndFrameMessageReachTheProgram) {
    const std::string dir = MakeTempDir("protocol_start");
    const char* expectedStart[2] = {"BLUE\nOK\n", "RED\nOK\n"};
    std::string files[2];
    for (int i = 0; i < 2; ++i) {
        files[i] = dir + "/stdin" + std::to_string(i) + ".bin";
        const std::string cmd = "sh -c \"cat > '" + files[i] + "'\"";
        ASSERT_TRUE(GamePlayer(i).Start(cmd.c_str())) << cmd;
    }
    PlayerTestPeer::SetStatus(First(), 1);
    First().WriteData();
    EXPECT_EQ(First().GetStatus(), 2);
    const std::string frame(First().GetStream().GetData(), First().GetStream().GetSize());
    const std::string expected[2] = {expectedStart[0] + frame, expectedStart[1]};

    const int64_t deadline = GetCurrentMs() + 10000;
    std::string got[2];
    while (GetCurrentMs() < deadline) {
        ProcessIO::PostAsyncReadReq();
        got[0] = ReadFile(files[0]);
        got[1] = ReadFile(files[1]);
        if (got[0].size() >= expected[0].size() && got[1].size() >= expected[1].size()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(got[0], expected[0]);
    EXPECT_EQ(got[1], expected[1]);
    EXPECT_EQ(expected[1].size(), 7u);
    EXPECT_EQ(got[0].substr(0, 8), "BLUE\nOK\n");
}

}  // namespace

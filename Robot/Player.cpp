#include "Player.h"

#include <sys/types.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "Game.h"
#include "Log.h"
#include "Platform.h"
#include "Shortcuts.h"

namespace {

// The program's end when the map cannot seat a player's robots: the same
// code as a map that cannot be loaded.
constexpr int START_CELLS_EXIT_CODE = -1;

const char START_TEXT_BLUE[] = "BLUE\nOK\n";
const char START_TEXT_RED[] = "RED\nOK\n";

// The smallest magnitude that narrows to an infinite float (round to nearest:
// the midpoint between FLT_MAX and 2^128 rounds up).
constexpr double FLOAT_OVERFLOW_LIMIT = 0x1.ffffffp+127;

bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// A whole number can be read from the line as scanf's "%d" reads one:
// white space, an optional sign, at least one digit.
bool LineStartsWithNumber(const char* line) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(line);
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    if (*p == '+' || *p == '-') ++p;
    return *p >= '0' && *p <= '9';
}

// An optional sign, then the digits up to the first other character; no
// digits read as 0.  Saturates at the int range, so that any overlong digit
// string stays out of the robot range instead of wrapping into it.
int32_t ReadRobotId(const char* word) {
    bool negative = false;
    if (*word == '+' || *word == '-') negative = *word++ == '-';
    int64_t value = 0;
    for (; *word >= '0' && *word <= '9'; ++word) {
        value = value * 10 + (*word - '0');
        if (value > static_cast<int64_t>(INT_MAX) + 1) value = static_cast<int64_t>(INT_MAX) + 1;
    }
    if (negative) return static_cast<int32_t>(-value);
    return static_cast<int32_t>(std::min<int64_t>(value, INT_MAX));
}

// Cuts the next run of characters that are not separators out of the text in
// place: skips leading separators, ends the run with a zero and moves *cursor
// past it.  Null when only separators are left.
template <bool (*IsSeparator)(char)>
char* NextToken(char** cursor) {
    char* p = *cursor;
    while (*p != '\0' && IsSeparator(*p)) ++p;
    if (*p == '\0') {
        *cursor = p;
        return nullptr;
    }
    char* token = p;
    while (*p != '\0' && !IsSeparator(*p)) ++p;
    if (*p != '\0') *p++ = '\0';
    *cursor = p;
    return token;
}

bool IsTradeCommand(const std::string& word) { return word == "sell" || word == "buy" || word == "destroy"; }

// The command lines after the frame line: each line split at blanks and
// tabs, its first word the command, the others its arguments; lines of only
// blanks and tabs give no command.  Only the command words are copied.
std::vector<PlayerCommand> SplitCommands(char* cursor) {
    std::vector<PlayerCommand> commands;
    while (char* line = NextToken<IsLineBreak>(&cursor)) {
        char* word = NextToken<IsBlank>(&line);
        if (word == nullptr) continue;
        commands.emplace_back();
        PlayerCommand& command = commands.back();
        command.name = word;
        while (char* arg = NextToken<IsBlank>(&line)) command.args.push_back(arg);
    }
    return commands;
}

}  // namespace

Player::Player() : ProcessIO(true, true) {}

Player::~Player() { Stop(); }

// ---------------------------------------------------------------- status

void Player::Init(uint32_t playerId) {
    if (m_strName.empty()) m_strName = "player" + std::to_string(playerId + 1);
    const int64_t iPlayerID = playerId;
    SOFT_ASSERT(iPlayerID >= 0 && iPlayerID < PLAYER_NUMS);
    m_iPlayerId = static_cast<int32_t>(playerId);

    const std::vector<b2Vec2>& cells = Game::GetInstance()->GetMap().GetPosList(playerId == 0 ? 'A' : 'B');
    if (cells.size() != PLAYER_ROBOT_NUMS) {
        LOG_ERR("Get robot pos err, size:%zu, expect:%d\n", cells.size(), PLAYER_ROBOT_NUMS);
        Platform::QuitProcess(START_CELLS_EXIT_CODE);
    }
    for (int i = 0; i < PLAYER_ROBOT_NUMS; ++i) {
        bool ret = m_robots[i].Init(m_iPlayerId, i, cells[i]);
        HARD_ASSERT(ret);
    }
}

void Player::PlayerCrash(int status) {
    LOG_ERR("Player:%d crashed.\n", m_iPlayerId + 1);
    // Before Init there is no other player to hand the win to.
    const int otherId = m_iPlayerId ^ 1;
    if (otherId >= 0 && otherId < PLAYER_NUMS) {
        Player& other = Game::GetInstance()->GetPlayer(otherId);
        if (!other.IsOver() && other.m_iMoney < SURVIVOR_MIN_MONEY) other.m_iMoney = SURVIVOR_MIN_MONEY;
    }
    m_iStatus = status;
    m_iMoney = 0;
}

void Player::HandleIOError() {
    LOG_ERR("Handle IO Error\n");
    PlayerCrash(PLAYER_STATUS_RUNTIME_ERR);
}

std::string Player::GetStatusText() const {
    if (m_iStatus == PLAYER_STATUS_FORMAT_ERR) return "Output format error.";
    if (m_iStatus == PLAYER_STATUS_RUNTIME_ERR) return "Runtime error.";
    return "Successful";
}

void Player::StepRobots() {
    for (Robot& robot : m_robots) robot.UpdateMotion();
}

// ---------------------------------------------------------------- frame message

void Player::HandleStart() {
    const char* text = m_iPlayerId == 0 ? START_TEXT_BLUE : START_TEXT_RED;
    if (!WriteToProcess(text, static_cast<uint32_t>(strlen(text)))) {
        LOG_ERR("WriteToProcess err.\n");
        PlayerCrash(PLAYER_STATUS_RUNTIME_ERR);
    }
}

void Player::WriteData() {
    if (m_iStatus != PLAYER_STATUS_READY) return;
    BuildFrameMessage();
    m_iStatus = PLAYER_STATUS_FRAME_SENT;
    SOFT_ASSERT(m_stream.GetRemainSize() >= 0);
    if (m_stream.GetRemainSize() < 0) {
        // The stream holds only a prefix: a message without its end would
        // leave the program waiting for an "OK" that never comes.  Send
        // nothing and try again next frame; the program sees the frame gap.
        m_iStatus = PLAYER_STATUS_READY;
        return;
    }
    if (!WriteToProcess(m_stream.GetData(), m_stream.GetSize())) {
        LOG_ERR("WriteToProcess err.\n");
        PlayerCrash(PLAYER_STATUS_RUNTIME_ERR);
    }
}

void Player::BuildFrameMessage() {
    m_stream.Reset();
    m_stream.AddInt(Game::GetInstance()->GetWorld().GetFrame(), ' ');
    m_stream.AddInt(m_iMoney, '\n');
    AddWorkbenchLines();
    for (const Robot& robot : m_robots) AddRobotLine(robot);
    for (int id = 0; id < PLAYER_ROBOT_NUMS; ++id) AddLidarLine(id);
    m_stream.AddChar('O');
    m_stream.AddChar('K');
    m_stream.AddChar('\n');
}

void Player::AddWorkbenchLines() {
    const std::vector<WorkbenchInfo> infos = m_workbenches.CollectInfo();
    m_stream.AddInt(static_cast<int32_t>(infos.size()), '\n');
    for (const WorkbenchInfo& info : infos) {
        m_stream.AddInt(info.type, ' ');
        m_stream.AddVec(b2Vec2(info.x, info.y), ' ');
        m_stream.AddInt(info.remain, ' ');
        m_stream.AddInt(static_cast<int32_t>(info.haveMask), ' ');
        m_stream.AddInt(info.ready, '\n');
    }
}

void Player::AddRobotLine(const Robot& robot) {
    const b2Body* body = robot.m_pBody;
    m_stream.AddInt(robot.GetNearWorkbenchIdx(), ' ');
    m_stream.AddInt(robot.m_iProduct, ' ');
    m_stream.AddFloat(robot.GetTimeRate(), ' ');
    m_stream.AddFloat(robot.GetImpactRate(), ' ');
    m_stream.AddFloat(body->GetAngularVelocity(), ' ');
    m_stream.AddVec(body->GetLinearVelocity(), ' ');
    m_stream.AddFloat(NormalizeAngle(body->GetAngle()), ' ');
    m_stream.AddVec(body->GetPosition(), '\n');
}

namespace {

bool SameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

bool AllFinite(const std::vector<float>& values) {
    for (float v : values) {
        if (!std::isfinite(v)) return false;
    }
    return true;
}

}  // namespace

void Player::AddLidarLine(int id) {
    const std::vector<float>& radar = m_robots[id].m_radar;
    if (!TAKE_SHORTCUTS) {
        FormatLidarLine(radar);
        return;
    }
    LidarText& last = m_lidarTexts[id];
    if (!last.text.empty() && SameBits(radar, last.radar) && m_stream.AddText(last.text.data(), last.text.size()))
        return;
    const uint32_t begin = m_stream.GetSize();
    FormatLidarLine(radar);
    // A non-finite reading logs a failed check each time it is written, so
    // such a line is never reused; nor is one cut off by the buffer's end.
    last.text.clear();
    if (m_stream.GetRemainSize() < 0 || !AllFinite(radar)) return;
    last.radar = radar;
    last.text.assign(m_stream.GetData() + begin, m_stream.GetSize() - begin);
}

void Player::PrepareLidarLine(int id) {
    if (!TAKE_SHORTCUTS) return;
    const std::vector<float>& radar = m_robots[id].m_radar;
    LidarText& last = m_lidarTexts[id];
    if (!last.text.empty() && SameBits(radar, last.radar)) return;
    last.text.clear();
    if (radar.empty() || !AllFinite(radar)) return;
    last.text.resize(radar.size() * DataStream::MAX_DECIMAL_FIELD);
    char* const begin = &last.text[0];
    last.text.resize(static_cast<size_t>(DataStream::WriteDecimalLine(begin, radar.data(), radar.size()) - begin));
    last.radar = radar;
}

void Player::FormatLidarLine(const std::vector<float>& radar) {
    const size_t count = radar.size();
    for (size_t i = 0; i < count; ++i) m_stream.AddFloat(radar[i], i + 1 == count ? '\n' : ' ');
}

// ---------------------------------------------------------------- answers

void Player::HandleRead(const char* data, uint32_t len) {
    if (len == 0) {
        PlayerCrash(PLAYER_STATUS_RUNTIME_ERR);
        return;
    }
    m_strReadBuf.append(data, len);

    // Answers are cut and parsed in place; what they used is dropped from the
    // front of the buffer in one go.
    size_t start = 0;
    while (m_strReadBuf.size() - start >= 2) {
        const size_t ok = m_strReadBuf.find("OK", start);
        if (ok == std::string::npos) break;
        m_strReadBuf[ok] = '\0';
        if (!ProcData(&m_strReadBuf[start])) {
            m_strReadBuf[ok] = 'O';
            m_strReadBuf.erase(0, start);
            PlayerCrash(PLAYER_STATUS_FORMAT_ERR);
            return;
        }
        start = std::min(ok + 3, m_strReadBuf.size());
    }
    m_strReadBuf.erase(0, start);

    if (m_strReadBuf.size() > MAX_UNANSWERED_CHARS) {
        LOG_ERR("Can not get 'OK' from stdout.\n");
        PlayerCrash(PLAYER_STATUS_FORMAT_ERR);
    }
}

bool Player::ProcData(char* text) {
    if (IsOver()) return true;
    if (m_iStatus == PLAYER_STATUS_STARTED) {
        m_iStatus = PLAYER_STATUS_READY;
        return true;
    }
    if (m_iStatus != PLAYER_STATUS_FRAME_SENT) {
        LOG_ERR("Output format err. stat:%d\n", m_iStatus);
        return false;
    }

    char* cursor = text;
    const char* frameLine = NextToken<IsLineBreak>(&cursor);
    if (frameLine == nullptr) {
        LOG_ERR("Empty output.\n");
        return false;
    }
    // The number only has to be there; it is not compared with any frame.
    if (!LineStartsWithNumber(frameLine)) {
        LOG_ERR("Output format err at line 1.\n");
        return false;
    }
    ++m_iAnsweredFrames;
    const std::vector<PlayerCommand> commands = SplitCommands(cursor);
    m_iStatus = PLAYER_STATUS_READY;
    return ControlRobot(commands);
}

bool Player::ControlRobot(const std::vector<PlayerCommand>& commands) {
    for (const PlayerCommand& command : commands) {
        const char* name = command.name.c_str();
        const ssize_t argCount = static_cast<ssize_t>(command.args.size());
        if (argCount == 0) {
            LOG_ERR("Invalid args size:%zd, player:%d, cmd:%s\n", argCount, m_iPlayerId, name);
            return false;
        }
        const int32_t id = ReadRobotId(command.args[0]);
        if (id < 0 || id >= PLAYER_ROBOT_NUMS) {
            LOG_ERR("Invalid robot id:%d\n", id);
            return false;
        }
        Robot& robot = m_robots[id];

        if (IsTradeCommand(command.name)) {
            if (argCount != 1) {
                LOG_ERR("Invalid args size:%zd, player:%d, cmd:%s\n", argCount, m_iPlayerId, name);
                return false;
            }
            Trade(robot, command.name);
            continue;
        }
        if (argCount != 2) {
            LOG_ERR("Invalid args size:%zd, player:%d, cmd:%s\n", argCount, m_iPlayerId, name);
            return false;
        }
        const float value = SafeAtoF(command.args[1]);
        if (command.name == "forward") {
            robot.m_fTargetSpeed = std::min(robot.m_fMaxSpeed, std::max(robot.m_fMinSpeed, value));
        } else if (command.name == "rotate") {
            robot.m_fTargetRotate = std::min(robot.m_fMaxRotate, std::max(-robot.m_fMaxRotate, value));
        } else {
            LOG_ERR("Invalid command:%s\n", name);
            return false;
        }
    }
    return true;
}

// A trade that cannot be made is the player's business, not an error: the
// robot's result is not looked at.
void Player::Trade(Robot& robot, const std::string& word) {
    if (word == "sell") {
        robot.Sell(m_iMoney);
    } else if (word == "buy") {
        robot.Buy(m_iMoney);
    } else {
        robot.DestroyProduct();
    }
}

float Player::SafeAtoF(const char* text) {
    const double value = atof(text);
    // Narrowing a double beyond the float range is undefined, so the range is
    // tested in double; NaN fails the comparison too.
    if (!(std::fabs(value) < FLOAT_OVERFLOW_LIMIT)) {
        LOG_ERR("Read inf('%s') from player, frame:%d\n", text, GetCurrentFrame());
        return 0.0f;
    }
    return static_cast<float>(value);
}

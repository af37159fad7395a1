#include "Game.h"

#include <getopt.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "Display.h"
#include "Log.h"
#include "Platform.h"
#include "ProcessIO.h"
#include "Robot.h"
#include "ShadowImage.h"
#include "Shortcuts.h"
#include "WaitPolicy.h"

namespace {

constexpr int VERSION_MAJOR = 3;
constexpr int64_t START_WAIT_MS = 5000;
// How long a wait without limit blocks before it looks at the stop flag again.
constexpr int64_t STOP_CHECK_MS = 100;
constexpr const char* OPTION_STRING = "fc:r:m:hn:l:s:dC:N:z:";

}  // namespace

int64_t GetCurrentMs() {
    static const int64_t s_frequency = Platform::PerformanceFrequency();
    return Platform::PerformanceCounter() * 1000 / s_frequency;
}

int64_t CounterAtMs(int64_t ms) {
    const int64_t frequency = Platform::PerformanceFrequency();
    return (ms * frequency + 999) / 1000;
}

bool IsFrameDue(uint64_t frame, uint64_t anchorFrame, uint64_t now, uint64_t anchorMs) {
    return (frame - anchorFrame) * 1000u <= (now - anchorMs) * static_cast<uint64_t>(FRAME_RATE);
}

namespace {

// The number as strtoul reads it into a 32-bit unsigned long: a magnitude
// beyond 32 bits gives the largest value, and a negative one within them
// wraps modulo 2^32, whatever the width of this platform's unsigned long.
uint32_t ReadUnsigned32(const char* text, int base) {
    const char* p = text;
    while (isspace(static_cast<unsigned char>(*p))) ++p;
    const bool negative = *p == '-';
    errno = 0;
    const unsigned long value = strtoul(text, nullptr, base);
    if (errno == ERANGE) return 0xFFFFFFFFu;
    // strtoul has already negated a negative number in its own width.
    const unsigned long magnitude = negative ? 0ul - value : value;
    if (magnitude > 0xFFFFFFFFul) return 0xFFFFFFFFu;
    const uint32_t low = static_cast<uint32_t>(magnitude);
    return negative ? 0u - low : low;
}

}  // namespace

uint32_t ParseLidarSwitch(const char* text) {
    bool hex = strlen(text) >= 3 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    return hex ? ReadUnsigned32(text + 2, 16) : ReadUnsigned32(text, 10);
}

void GameThreadMain() { Game::GetInstance()->Loop(); }

Game* Game::GetInstance() {
    static Game s_game;
    return &s_game;
}

// ---------------------------------------------------------------- start-up

void Game::Usage(const char* programName) {
    fprintf(stderr, "Zentrik Varnholt 2023 v%d.08; Build@%s\n", VERSION_MAJOR, __DATE__);
    fprintf(stderr, "Usage:\n");
    fprintf(stderr, "   %s [options...] <player1's program> <player2's program>\n", programName);
    fprintf(stderr, "Options:\n");
    fprintf(stderr, "   -f  Fast mode.\n");
    fprintf(stderr, "   -d  Debug mode.\n");
    fprintf(stderr, "   -m  Specify the map file.\n");
    fprintf(stderr, "   -n  Specify the player1's name.\n");
    fprintf(stderr, "   -N  Specify the player2's name.\n");
    fprintf(stderr, "   -c  Specify the player1's current directory.\n");
    fprintf(stderr, "   -C  Specify the player2's current directory.\n");
    fprintf(stderr, "   -z  Specify the lidar display switch, default:0xFF (b11111111).\n");
    fprintf(stderr, "   -r  Specify the replay file to output. default: '%s'\n", m_replayFile.c_str());
    fprintf(stderr, "   -l  Specify the log level:[DBG|INFO|WARN|ERR|ASSERT], defalut:INFO\n");
    fprintf(stderr, "   -h  Display this information\n");
    fprintf(stderr, "Sample:\n");
    fprintf(stderr, "   %s -m map.txt -c ./team1 ./main.exe -C ./team2 ./main.exe\n", programName);
    fprintf(stderr, "\n");
    fflush(stderr);
    exit(0);
}

Game::OptionResult Game::ParseOptions(int argc, char** argv, std::string& mapPath) {
    int opt;
    while ((opt = getopt_long(argc, argv, OPTION_STRING, nullptr, nullptr)) != -1) {
        switch (opt) {
            case 'f': m_bFastMode = true; break;
            case 'd': m_bDebugMode = true; break;
            case 'm': mapPath = optarg; break;
            case 'n': m_players[0].SetName(optarg); break;
            case 'N': m_players[1].SetName(optarg); break;
            case 'c': m_players[0].SetWorkDir(optarg); break;
            case 'C': m_players[1].SetWorkDir(optarg); break;
            case 'z': Display::GetInstance()->SetLidarSwitch(ParseLidarSwitch(optarg)); break;
            case 'r': m_replayFile = optarg; break;
            case 's': break;
            case 'l': {
                int level = LogLevelFromName(optarg);
                if (level < 0) {
                    fprintf(stderr, "Unknown log level:%s, must be:[DBG|INFO|WARN|ERR|ASSERT|NONE]\n", optarg);
                    return OPTIONS_BAD_LEVEL;
                }
                g_logLevel = level;
                break;
            }
            default: return OPTIONS_USAGE;  // -h, an unknown option, a missing argument
        }
    }
    return OPTIONS_OK;
}

int Game::Run(int argc, char** argv) {
    std::string mapPath;
    switch (ParseOptions(argc, argv, mapPath)) {
        case OPTIONS_USAGE: Usage(argv[0]);
        case OPTIONS_BAD_LEVEL: return -1;
        case OPTIONS_OK: break;
    }

    Display::GetInstance()->Init(argc, argv);

    if (optind + 2 != argc) Usage(argv[0]);
    if (mapPath.empty()) {
        fprintf(stderr, "Map file is not specified.\n");
        return -1;
    }
    if (!Init(mapPath)) return -1;

    for (int i = 0; i < PLAYER_NUMS; ++i) {
        const char* program = argv[optind + i];
        m_players[i].Init(static_cast<uint32_t>(i));
        if (!m_players[i].Start(program)) {
            LOG_ERR("Run %s err.\n", program);
            m_players[i].PlayerCrash(PLAYER_STATUS_RUNTIME_ERR);
            GameOver();
        }
    }

    FillReplayHeader();

    if (!WaitForPlayerReady()) LOG_ERR("WaitForPlayerReady err.\n");

    Display::GetInstance()->Run(GameThreadMain);
    return 0;
}

bool Game::Init(const std::string& mapPath) {
    if (!m_map.Load(mapPath)) return false;
    const std::vector<std::vector<char>>& rows = m_map.GetMapData();
    int count = 0;
    for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
        for (int col = 0; col < static_cast<int>(rows[row].size()); ++col) {
            char c = rows[row][col];
            int player;
            int type;
            if (c >= '1' && c <= '9') {
                player = 0;
                type = c - '0';
            } else if (c >= 'a' && c <= 'i') {
                player = 1;
                type = c - 'a' + 1;
            } else {
                continue;
            }
            m_players[player].GetWorkbenches().Add(Workbench(type, m_map.GetCellCentre(row, col)));
            ++count;
        }
    }
    LOG_INFO("Loaded workbench : %d\n", count);
    return m_world.Init(m_map);
}

void Game::FillReplayHeader() {
    for (int i = 0; i < PLAYER_NUMS; ++i) m_rep.add_player_names(m_players[i].GetName());
    m_rep.set_map_height(MAP_SIZE);
    m_rep.set_map_width(MAP_SIZE);
    m_rep.set_num_of_players(PLAYER_NUMS);
    for (const std::vector<char>& row : m_map.GetMapData()) m_rep.add_map_str(std::string(row.begin(), row.end()));
    for (int i = 0; i < PLAYER_NUMS; ++i) {
        for (const WorkbenchInfo& info : m_players[i].GetWorkbenches().CollectInfo()) {
            replay_protocol::Workbench* wb = m_rep.add_workbenchs();
            wb->mutable_pos()->set_x(info.x);
            wb->mutable_pos()->set_y(info.y);
            wb->set_product_id(info.type);
            wb->set_material_bits(static_cast<int32_t>(info.needMask));
            wb->set_owner(i);
        }
    }
}

bool Game::WaitForPlayerReady() {
    const int64_t deadline = GetCurrentMs() + START_WAIT_MS;
    for (;;) {
        ProcessIO::PostAsyncReadReq();
        const int64_t now = GetCurrentMs();
        if (!m_bDebugMode && now >= deadline) {
            for (int i = 0; i < PLAYER_NUMS; ++i) {
                if (m_players[i].GetStatus() != PLAYER_STATUS_READY) LOG_ERR("Player %d not ready.\n", i);
            }
            return false;
        }
        bool ready = true;
        for (int i = 0; i < PLAYER_NUMS && ready; ++i) {
            if (m_players[i].IsOver()) return false;
            if (m_players[i].GetStatus() != PLAYER_STATUS_READY) ready = false;
        }
        if (ready) return true;
        ProcessIO::WaitForIO(CounterAtMs(m_bDebugMode ? now + STOP_CHECK_MS : deadline));
    }
}

// ---------------------------------------------------------------- frame loop

void Game::Loop() {
    // The frame's answer window is short: on a machine busy with other
    // matches the game thread must not wait long for a processor once an
    // answer has woken it.
    Platform::SetTimeSlices(Platform::TimeSlices::SHORT);
    StartShadowEncoder();
    for (;;) {
        Step();
        for (int i = 0; i < PLAYER_NUMS; ++i) {
            if (m_players[i].IsOver()) GameOver();
        }
        m_world.Step();
        if (m_bStop || m_world.GetFrame() > MAX_FRAME) GameOver();
    }
}

void Game::UpdatePacingAnchor(int64_t now, int frame) {
    if (now > m_lastFrameMs + REANCHOR_GAP_MS) {
        m_anchorFrame = frame;
        m_anchorMs = now;
    }
    m_lastFrameMs = now;
}

bool Game::AnyPlayerOver() const {
    for (const Player& player : m_players) {
        if (player.IsOver()) return true;
    }
    return false;
}

bool Game::BothPlayersAnswered() const {
    return m_players[0].GetStatus() == PLAYER_STATUS_READY && m_players[1].GetStatus() == PLAYER_STATUS_READY;
}

// Polls for answers, then waits for the frame's due time.  False when a
// player's status became an error during the wait.  Between polls the game
// thread blocks until a player's pipe has something to read, so that the
// processors stay free for the players; only a fast match spins first, and
// only while answers come within the spin, or gives way first on a busy
// machine.
bool Game::WaitForAnswers(int frame) {
    const int64_t t0 = GetCurrentMs();
    bool spun = false;
    for (;;) {
        if (AnyPlayerOver()) break;
        bool answered = BothPlayersAnswered();
        if (m_bFastMode && answered) break;
        int64_t now = GetCurrentMs();
        // An unlimited debug-mode wait gives way to a stop request, so that a
        // closed window ends the match even while a player is silent.
        bool unlimited = m_bDebugMode && !m_bStop;
        if (!answered && (unlimited || now < t0 + ANSWER_WINDOW_MS)) {
            if (PollForAnswers()) continue;
            if (m_bFastMode && !spun) {
                spun = true;
                // No poll after the window, however late the spin runs.
                const int64_t windowEnd = unlimited ? INT64_MAX : t0 + ANSWER_WINDOW_MS;
                const auto over = [this, windowEnd] { return GetCurrentMs() >= windowEnd || PollForAnswers(); };
                if (m_answerSpin.Spin(over)) continue;
                if (ShouldGiveWayForAnswers() && PollUntil(Platform::NowNs() + BUSY_ANSWER_WAIT_US * 1000, over))
                    continue;
            }
            ProcessIO::WaitForIO(CounterAtMs(unlimited ? now + STOP_CHECK_MS : t0 + ANSWER_WINDOW_MS));
            continue;
        }
        if (m_bFastMode) break;
        if (IsFrameDue(static_cast<uint64_t>(frame), static_cast<uint64_t>(m_anchorFrame), static_cast<uint64_t>(now),
                       static_cast<uint64_t>(m_anchorMs)))
            break;
        Platform::SleepUntil(CounterAtMs(DueMs(frame)));
    }
    if (spun) m_answerSpin.Learn();
    return !AnyPlayerOver();
}

bool Game::ShouldGiveWayForAnswers() const {
    // On a busy machine the players were woken onto this thread's
    // processor: waiting by giving it way, not by sleeping, keeps the
    // match's threads there.  A match whose threads sleep and wake a
    // thousand times a second on several processors at once can keep a
    // processor from other work on a busy machine for hundreds of
    // milliseconds (the scheduler's fairness between sessions fails there).
    const LoadGauge& load = ProcessLoad();
    return !load.HasProcessorsToSpare() && !load.PlayersSetThePace();
}

bool Game::PollForAnswers() {
    ProcessIO::PostAsyncReadReq();
    return AnyPlayerOver() || BothPlayersAnswered();
}

int64_t Game::DueMs(int frame) const {
    const int64_t frameMs = 1000 / FRAME_RATE;
    return m_anchorMs + (frame - m_anchorFrame) * frameMs;
}

void Game::Step() {
    const int frame = m_world.GetFrame();
    UpdatePacingAnchor(GetCurrentMs(), frame);
    m_bShadowChanged = false;

    Robot::StartRadarTasks();
    for (Player& player : m_players) player.GetWorkbenches().Step();
    Robot::WaitRadarScans();

    // The workers mark the explored cells while the messages go out and the
    // answers come in: nothing the answers change is read by the marking.
    for (Player& player : m_players) {
        if (player.GetStatus() == PLAYER_STATUS_READY) player.WriteData();
    }
    // The game thread's own part of the marking, while the players think.
    Robot::MarkRadarCells();
    // How long the players take tells the lidar workers whether helping
    // pays (see LoadGauge::PlayersSetThePace).
    const int64_t waitStart = Platform::NowNs();
    const bool answered = WaitForAnswers(frame);
    ProcessLoad().NoteAnswerWait(Platform::NowNs() - waitStart, !m_bFastMode);
    if (answered) {
        for (Player& player : m_players) player.StepRobots();
    }
    Robot::WaitRadarMarks();
    if (m_bShadowChanged) RenewShadowPng();
    RecordFrame();
}

void Game::GameOver() {
    WriteToReplay();
    for (Player& player : m_players) {
        LOG_INFO("%s skipped frames:%d\n", player.GetName().c_str(),
                 m_world.GetFrame() - player.GetAnsweredFrames() - 1);
    }
    std::string status = "Successful";
    for (Player& player : m_players) {
        if (player.IsOver()) status = player.GetStatusText();
    }
    PrintResult(status);
    Platform::QuitProcess(0);
}

void Game::PrintResult(const std::string& status) {
    printf("{\"status\":\"%s\",\"score\":[%d,%d]}\n", status.c_str(), m_players[0].GetMoney(),
           m_players[1].GetMoney());
    fflush(stdout);
}

// ---------------------------------------------------------------- recording

uint8_t WorkbenchFrameByte(const WorkbenchInfo& info) {
    // Held materials packed by input slot: the k-th needed material sets bit k.
    // Type 9 takes all seven products, which would not fit in three bits.
    uint32_t material = 0;
    if (info.type != 9) {
        int slot = 0;
        for (uint32_t bit = 0; bit < 32; ++bit) {
            if (!(info.needMask & (1u << bit))) continue;
            if (info.haveMask & (1u << bit)) material |= 1u << slot;
            ++slot;
        }
    }
    HARD_ASSERT(material < 8);
    // Compared before the conversion so that no value outside the nibble is
    // ever converted to an integer.
    const float scaled = info.progress * 14.0f;
    uint32_t rate = 16;
    if (info.progress < 0) {
        rate = 15;
    } else if (scaled < 16.0f) {
        rate = static_cast<uint32_t>(scaled);
    }
    HARD_ASSERT(rate < 16);
    return static_cast<uint8_t>((rate << 4) | (material << 1) | (info.ready ? 1u : 0u));
}

namespace {

// The snapshot that the next recording fills: null, or one that came back
// from the display's slot without having been drawn.
DisplayFrame* s_pNextDisplayFrame = nullptr;

void FillRobotViews(DisplayFrame& snapshot, int playerIdx, Player& player) {
    for (int id = 0; id < PLAYER_ROBOT_NUMS; ++id) {
        const Robot& robot = player.GetRobot(id);
        RobotView& view = snapshot.m_robots[playerIdx * PLAYER_ROBOT_NUMS + id];
        const b2Vec2& pos = robot.m_pBody->GetPosition();
        view.x = pos.x;
        view.y = pos.y;
        view.angle = robot.m_pBody->GetAngle();
        view.product = robot.m_iProduct;
        view.valueRate = robot.GetValueRate();
        view.radar = robot.m_radar;  // keeps the storage of a reused snapshot
    }
}

void AddReplayPlayer(replay_protocol::Frame& repFrame, int frame, Player& player) {
    replay_protocol::Player* repPlayer = repFrame.add_players();
    repPlayer->set_money(player.GetMoney());
    repPlayer->set_skipped_frames(frame - player.GetAnsweredFrames());
    for (int id = 0; id < PLAYER_ROBOT_NUMS; ++id) {
        const Robot& robot = player.GetRobot(id);
        replay_protocol::Robot* repRobot = repPlayer->add_robots();
        repRobot->set_carry_id(robot.m_iProduct);
        repRobot->set_radian(NormalizeAngle(robot.m_pBody->GetAngle()));
        const b2Vec2& pos = robot.m_pBody->GetPosition();
        repRobot->mutable_pos()->set_x(pos.x);
        repRobot->mutable_pos()->set_y(pos.y);
        repRobot->set_value_rate(robot.GetValueRate());
    }
}

// The replay frame's image field, after the other fields of the frame
// serialized without it: the image is the frame's last field, so the bytes
// are those of the frame serialized with it.
void AppendImageField(std::string& frameData, const std::string& image) {
    if (image.empty()) return;  // an empty bytes field is not written
    constexpr uint8_t SHADOW_PNG_TAG = (4 << 3) | 2;  // field 4, length-delimited
    static_assert(replay_protocol::Frame::kShadowPngFieldNumber == 4, "the image is field 4");
    frameData.push_back(static_cast<char>(SHADOW_PNG_TAG));
    for (uint64_t len = image.size();; len >>= 7) {
        if (len < 0x80) {
            frameData.push_back(static_cast<char>(len));
            break;
        }
        frameData.push_back(static_cast<char>((len & 0x7F) | 0x80));
    }
    frameData.append(image);
}

// The images of the explored cells, in the order of the frames that show them.
ShadowEncoder s_shadowEncoder;

ShadowCells CopyShadowCells(Game& game) {
    ShadowCells cells;
    for (int player = 0; player < PLAYER_NUMS; ++player) {
        const ExploredCells& explored = game.GetPlayer(player).GetExploredCells();
        for (int row = 0; row < MAP_SIDE_CELLS; ++row) {
            for (int word = 0; word < 2; ++word) cells.bits[player][row][word] = explored.SeenBits(row, word);
        }
    }
    return cells;
}

}  // namespace

void Game::RecordFrame() {
    const int frame = m_world.GetFrame();

    if (!s_pNextDisplayFrame) s_pNextDisplayFrame = new DisplayFrame();
    DisplayFrame& snapshot = *s_pNextDisplayFrame;
    for (int i = 0; i < PLAYER_NUMS; ++i) {
        snapshot.m_money[i] = m_players[i].GetMoney();
        FillRobotViews(snapshot, i, m_players[i]);
    }
    for (int i = 0; i < PLAYER_NUMS; ++i) {
        m_players[i].GetExploredCells().CopyTo(snapshot.m_seen[i]);
        snapshot.m_workbenches[i] = m_players[i].GetWorkbenches().CollectInfo();
    }
    snapshot.m_iSecondsLeft = (MAX_FRAME - frame) / FRAME_RATE;
    // The replay's workbench bytes come from the same records, read before
    // the snapshot is handed to the window.
    std::string* workbenchBytes = m_repFrame.mutable_workbench_frame();
    workbenchBytes->clear();
    for (int i = 0; i < PLAYER_NUMS; ++i) {
        for (const WorkbenchInfo& info : snapshot.m_workbenches[i])
            workbenchBytes->push_back(static_cast<char>(WorkbenchFrameByte(info)));
    }
    // Whatever the window has not taken yet comes back to be filled next time.
    s_pNextDisplayFrame = Display::GetInstance()->PendingFrame().exchange(s_pNextDisplayFrame, std::memory_order_seq_cst);

    m_repFrame.set_frame_id(frame);
    m_repFrame.clear_players();
    for (int i = 0; i < PLAYER_NUMS; ++i) AddReplayPlayer(m_repFrame, frame, m_players[i]);
    // The same check, and the same words, as when the image was made here.
    if (m_iLatestImage < 0) LOG_ASSERT_FAILED("g_PNGDataLen");
    const bool showsImage = m_bShadowChanged || frame % 16 == 0;
    PendingFrame pending{std::string(), showsImage ? m_iLatestImage : -1};
    if (!m_repFrame.SerializeToString(&pending.data)) LOG_ASSERT_FAILED("repFrame.SerializeToString(&data)");
    m_pendingFrames.push_back(std::move(pending));
    FlushFrames(false);
}

void Game::FlushFrames(bool wait) {
    while (!m_pendingFrames.empty()) {
        PendingFrame& next = m_pendingFrames.front();
        if (next.image >= 0) {
            if (!wait && !s_shadowEncoder.IsDone(next.image)) break;
            AppendImageField(next.data, s_shadowEncoder.Image(next.image));
        }
        m_frameRepData.append(next.data);
        m_rep.add_length_of_frames(static_cast<int32_t>(next.data.size()));
        m_pendingFrames.pop_front();
    }
    // Frames to come show the latest image or a newer one.
    int needed = m_iLatestImage;
    for (const PendingFrame& pending : m_pendingFrames) {
        if (pending.image >= 0) {
            needed = pending.image;
            break;
        }
    }
    s_shadowEncoder.Drop(needed);
}

void Game::GenerateShadowPng() { m_iLatestImage = s_shadowEncoder.EncodeNow(CopyShadowCells(*this)); }

void Game::StartShadowEncoder() {
    // On a single processor the encoder's thread could only take turns with
    // this one; it would never encode an image.
    if (TAKE_SHORTCUTS && Platform::ProcessorsAllowed() >= 2) s_shadowEncoder.Start();
}

void Game::SubmitShadowPng() { m_iLatestImage = s_shadowEncoder.Submit(CopyShadowCells(*this)); }

void Game::RenewShadowPng() {
    if (ShouldEncodeHere()) {
        GenerateShadowPng();
    } else {
        SubmitShadowPng();
    }
}

bool Game::ShouldEncodeHere() const {
    if (!TAKE_SHORTCUTS) return true;
    // With no processor to spare, or none beside the game thread's, or
    // while the players set the pace, the encoder's thread would only
    // compete with this one and with the players: the image is encoded
    // here, once the encoder has caught up (images keep their order).  Not
    // handing it more is what lets it catch up on a busy machine, and then
    // sleep: a match whose threads keep several processors' queues busy is
    // a bad neighbour to other work.
    const LoadGauge& load = ProcessLoad();
    return !load.HasProcessorsToSpare() || load.ProcessorsAllowed() < 2 || load.PlayersSetThePace();
}

void Game::WriteToReplay() {
    // Without player names the match ended during start-up: no replay at all.
    if (m_rep.player_names_size() == 0) return;
    FlushFrames(true);
    const time_t now = time(nullptr);
    // The default pattern writes into "replay"; other patterns need their
    // directory to exist already.
    Platform::MakeDirectory("replay");
    struct tm local;
    localtime_r(&now, &local);
    char path[1024];
    path[0] = '\0';
    // strftime gives 0 both for an expansion that does not fit (the buffer is
    // then undefined) and for an empty pattern; the first cannot name a file.
    if (strftime(path, sizeof path, m_replayFile.c_str(), &local) == 0 && !m_replayFile.empty()) {
        LOG_ERR("Can not create file:%s, error:%s\n", m_replayFile.c_str(), strerror(ENAMETOOLONG));
        return;
    }
    FILE* fp = fopen(path, "wb");
    if (!fp) {
        LOG_ERR("Can not create file:%s, error:%s\n", path, strerror(errno));
        return;
    }
    std::string s;
    if (!m_rep.SerializeToString(&s)) {
        LOG_ERR("Serialize err\n");
        fclose(fp);
        return;
    }
    const uint32_t headerLen = static_cast<uint32_t>(s.length());
    const unsigned char len[4] = {static_cast<unsigned char>(headerLen), static_cast<unsigned char>(headerLen >> 8),
                                  static_cast<unsigned char>(headerLen >> 16),
                                  static_cast<unsigned char>(headerLen >> 24)};
    SOFT_ASSERT(fwrite(&len, sizeof len, 1, fp) == 1);
    SOFT_ASSERT(fwrite(s.c_str(), s.length(), 1, fp) == 1);
    if (!m_frameRepData.empty()) SOFT_ASSERT(fwrite(m_frameRepData.c_str(), m_frameRepData.length(), 1, fp) == 1);
    // The buffered tail only reaches the disk here.
    if (fclose(fp) != 0) LOG_ERR("Can not write file:%s, error:%s\n", path, strerror(errno));
    LOG_DBG("Write %d frames to replay file.\n", m_rep.length_of_frames_size());
}

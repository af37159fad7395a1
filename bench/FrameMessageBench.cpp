// Building one frame message: the stream's decimal writer against the same
// message written field by field with snprintf, side by side, from the same
// values (20 workbench lines, four robot lines and four full lidar lines of
// 360 values).  A third benchmark times the player's own build on a loaded
// map, including the reads of the workbenches and the physics bodies.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "DataStream.h"
#include "Game.h"
#include "Log.h"
#include "Player.h"

namespace {

struct RobotValues {
    int32_t nearIdx;
    int32_t product;
    float timeRate;
    float impactRate;
    float angularVelocity;
    b2Vec2 velocity;
    float heading;
    b2Vec2 position;
    std::vector<float> lidar;
};

struct FrameValues {
    int32_t frame;
    int32_t money;
    std::vector<WorkbenchInfo> workbenches;
    RobotValues robots[4];
};

// Values of the kind a match produces: cell centres, full-precision floats
// for speeds and angles, lidar lengths from half a metre to the 100 m cap.
FrameValues MakeFrame() {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    FrameValues frame;
    frame.frame = 5321;
    frame.money = 481234;
    for (int i = 0; i < 20; ++i) {
        WorkbenchInfo info{};
        info.x = 0.25f + 0.5f * static_cast<float>(rng() % 100);
        info.y = 0.25f + 0.5f * static_cast<float>(rng() % 100);
        info.type = 1 + static_cast<int32_t>(rng() % 9);
        info.remain = static_cast<int32_t>(rng() % 1000) - 1;
        info.haveMask = static_cast<uint32_t>(rng() % 256) & 0xFEu;
        info.ready = static_cast<int32_t>(rng() % 2);
        frame.workbenches.push_back(info);
    }
    for (RobotValues& robot : frame.robots) {
        robot.nearIdx = static_cast<int32_t>(rng() % 21) - 1;
        robot.product = static_cast<int32_t>(rng() % 8);
        robot.timeRate = 0.8f + 0.2f * unit(rng);
        robot.impactRate = 0.8f + 0.2f * unit(rng);
        robot.angularVelocity = -3.0f + 6.0f * unit(rng);
        robot.velocity = b2Vec2(-6.0f + 12.0f * unit(rng), -6.0f + 12.0f * unit(rng));
        robot.heading = -3.1415927f + 6.2831855f * unit(rng);
        robot.position = b2Vec2(50.0f * unit(rng), 50.0f * unit(rng));
        for (int i = 0; i < 360; ++i) robot.lidar.push_back(unit(rng) < 0.1f ? 100.0f : 0.5f + 60.0f * unit(rng));
    }
    return frame;
}

// The same interface as DataStream, written with snprintf.
class SnprintfStream {
public:
    void Reset() { m_pCur = m_buf; }
    void AddInt(int32_t iVal, char sep) { Put(snprintf(m_pCur, Room(), "%d", iVal), sep); }
    void AddFloat(float fVal, char sep) { Put(snprintf(m_pCur, Room(), "%.10g", static_cast<double>(fVal)), sep); }
    void AddVec(const b2Vec2& v, char sep) {
        Put(snprintf(m_pCur, Room(), "%.10g %.10g", static_cast<double>(v.x), static_cast<double>(v.y)), sep);
    }
    void AddChar(char c) { Put(0, c); }
    const char* GetData() const { return m_buf; }
    uint32_t GetSize() const { return static_cast<uint32_t>(m_pCur - m_buf); }

private:
    size_t Room() const { return static_cast<size_t>(m_buf + sizeof m_buf - m_pCur); }
    void Put(int len, char sep) {
        m_pCur += len;
        if (sep != '\0') *m_pCur++ = sep;
    }

    char m_buf[131072];
    char* m_pCur = m_buf;
};

// The frame message's fields, in its order.
template <class Stream>
void BuildMessage(Stream& s, const FrameValues& f) {
    s.Reset();
    s.AddInt(f.frame, ' ');
    s.AddInt(f.money, '\n');
    s.AddInt(static_cast<int32_t>(f.workbenches.size()), '\n');
    for (const WorkbenchInfo& w : f.workbenches) {
        s.AddInt(w.type, ' ');
        s.AddVec(b2Vec2(w.x, w.y), ' ');
        s.AddInt(w.remain, ' ');
        s.AddInt(static_cast<int32_t>(w.haveMask), ' ');
        s.AddInt(w.ready, '\n');
    }
    for (const RobotValues& r : f.robots) {
        s.AddInt(r.nearIdx, ' ');
        s.AddInt(r.product, ' ');
        s.AddFloat(r.timeRate, ' ');
        s.AddFloat(r.impactRate, ' ');
        s.AddFloat(r.angularVelocity, ' ');
        s.AddVec(r.velocity, ' ');
        s.AddFloat(r.heading, ' ');
        s.AddVec(r.position, '\n');
    }
    for (const RobotValues& r : f.robots) {
        for (size_t i = 0; i < r.lidar.size(); ++i) s.AddFloat(r.lidar[i], i + 1 == r.lidar.size() ? '\n' : ' ');
    }
    s.AddChar('O');
    s.AddChar('K');
    s.AddChar('\n');
}

const FrameValues& Frame() {
    static const FrameValues s_frame = MakeFrame();
    return s_frame;
}

// Both builders must produce the same bytes, or the comparison means nothing.
void CheckSameBytes() {
    auto fast = std::make_unique<DataStream>();
    auto slow = std::make_unique<SnprintfStream>();
    BuildMessage(*fast, Frame());
    BuildMessage(*slow, Frame());
    if (fast->GetSize() != slow->GetSize() || memcmp(fast->GetData(), slow->GetData(), fast->GetSize()) != 0) {
        fprintf(stderr, "the two builders differ\n");
        abort();
    }
}

// One message built again and again by the builder Stream.
template <class Stream>
void BM_FrameMessage(benchmark::State& state) {
    CheckSameBytes();
    auto stream = std::make_unique<Stream>();
    for (auto _ : state) {
        BuildMessage(*stream, Frame());
        benchmark::DoNotOptimize(stream->GetData());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * stream->GetSize());
    state.counters["bytes"] = stream->GetSize();
}
BENCHMARK_TEMPLATE(BM_FrameMessage, DataStream);
BENCHMARK_TEMPLATE(BM_FrameMessage, SnprintfStream);

// The player's own build on a loaded map, four full lidar lines.
void BM_Player_BuildFrameMessage(benchmark::State& state) {
    static bool s_ready = false;
    Player& player = Game::GetInstance()->GetPlayer(0);
    if (!s_ready) {
        g_logLevel = LOG_LEVEL_ERR;
        if (!Game::GetInstance()->Init(std::string(SOURCE_DIR) + "/tests/maps/player_basic.txt")) {
            state.SkipWithError("map not loaded");
            return;
        }
        player.Init(0);
        for (int id = 0; id < 4; ++id) player.GetRobot(id).m_radar = Frame().robots[id].lidar;
        s_ready = true;
    }
    for (auto _ : state) {
        player.BuildFrameMessage();
        benchmark::DoNotOptimize(player.GetStream().GetData());
        benchmark::ClobberMemory();
    }
    state.counters["bytes"] = player.GetStream().GetSize();
}
BENCHMARK(BM_Player_BuildFrameMessage);

}  // namespace

BENCHMARK_MAIN();

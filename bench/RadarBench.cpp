// The lidar of one frame on the demo map: the eight robots' scans and
// explored-cell marking on the four workers (release and wait, as the frame
// loop does it), against one robot's update done inline for scale.  The
// robots stand on their start cells with headings that change each frame.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "Game.h"
#include "Log.h"
#include "Player.h"
#include "Robot.h"

namespace {

void SetUpDemoGameOnce() {
    static bool s_done = false;
    if (s_done) return;
    s_done = true;
    g_logLevel = LOG_LEVEL_ERR;
    Game* game = Game::GetInstance();
    const std::string path = std::string(SOURCE_DIR) + "/maps/demo.txt";
    if (!game->Init(path)) {
        fprintf(stderr, "cannot load %s\n", path.c_str());
        exit(1);
    }
    game->GetPlayer(0).Init(0);
    game->GetPlayer(1).Init(1);
}

// A new heading for every robot, as the robots turn during a match.
void TurnRobots(int frame) {
    for (int player = 0; player < 2; ++player) {
        for (int id = 0; id < 4; ++id) {
            b2Body* body = Game::GetInstance()->GetPlayer(player).GetRobot(id).m_pBody;
            body->SetTransform(body->GetPosition(), 0.37f * static_cast<float>(frame + 4 * player + id));
        }
    }
}

void BM_FrameLidarOnWorkers(benchmark::State& state) {
    SetUpDemoGameOnce();
    int frame = 0;
    for (auto _ : state) {
        TurnRobots(frame++);
        Robot::StartRadarTasks();
        Robot::WaitRadarTasks();
    }
    state.SetItemsProcessed(state.iterations() * 8);
}
BENCHMARK(BM_FrameLidarOnWorkers)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_OneRobotLidarInline(benchmark::State& state) {
    SetUpDemoGameOnce();
    Robot& robot = Game::GetInstance()->GetPlayer(1).GetRobot(0);
    int frame = 0;
    for (auto _ : state) {
        TurnRobots(frame++);
        robot.UpdateRadar();
        benchmark::DoNotOptimize(robot.m_radar.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OneRobotLidarInline)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

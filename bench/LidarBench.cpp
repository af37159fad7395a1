// One robot's lidar scan, fast and reference, on the demo map and on the
// dense map.  The poses are free cells of the map with seven other robots
// around, cycled so that every iteration scans a different pose.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "Map.h"

namespace {

struct Scene {
    b2Vec2 pos;
    float heading;
    std::vector<RadarObstacle> others;
};

struct BenchMap {
    Map map;
    std::vector<Scene> scenes;
};

b2Vec2 RandomFreeCentre(const Map& map, std::mt19937& rng) {
    const std::vector<b2Vec2>& free = map.GetPosList('.');
    return free[rng() % free.size()];
}

const BenchMap& LoadBenchMap(const std::string& name) {
    static BenchMap maps[2];
    BenchMap& m = maps[name == "dense" ? 1 : 0];
    if (!m.scenes.empty()) return m;
    if (!m.map.Load(std::string(SOURCE_DIR "/maps/") + name + ".txt")) {
        fprintf(stderr, "cannot load map %s\n", name.c_str());
        exit(1);
    }
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> jitter(-0.2f, 0.2f);
    std::uniform_real_distribution<float> heading(-3.14159f, 3.14159f);
    for (int i = 0; i < 64; ++i) {
        Scene s;
        s.pos = RandomFreeCentre(m.map, rng) + b2Vec2(jitter(rng), jitter(rng));
        s.heading = heading(rng);
        for (int k = 0; k < 7; ++k) {
            const b2Vec2 p = RandomFreeCentre(m.map, rng);
            s.others.push_back({p.x, p.y, static_cast<int32_t>(k % 2 ? 0 : 1 + k)});
        }
        m.scenes.push_back(s);
    }
    return m;
}

void ScanOneRobot(benchmark::State& state, const char* name, bool fast) {
    const BenchMap& m = LoadBenchMap(name);
    size_t i = 0;
    for (auto _ : state) {
        const Scene& s = m.scenes[i++ % m.scenes.size()];
        std::vector<float> r = fast ? m.map.ScanRadar(s.pos, s.heading, s.others)
                                    : m.map.ScanRadarReference(s.pos, s.heading, s.others);
        benchmark::DoNotOptimize(r.data());
    }
    state.counters["segments"] = static_cast<double>(m.map.GetSegments().size());
}

}  // namespace

BENCHMARK_CAPTURE(ScanOneRobot, FastDemo, "demo", true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(ScanOneRobot, ReferenceDemo, "demo", false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(ScanOneRobot, FastDense, "dense", true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(ScanOneRobot, ReferenceDense, "dense", false)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();

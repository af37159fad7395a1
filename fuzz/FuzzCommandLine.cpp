// Fuzz target: the referee's command line up to the map load, as Game::Run
// takes it: the options (Game::ParseOptions), the count of program paths,
// the map path, and then Game::Init when the map path is the name of one of
// the fixture maps below.
//
// Input: the arguments, separated by NUL bytes; the first is argv[0].
// Whatever Game::Run would answer with the usage text (which ends the
// process) or an early return ends the input here instead.
//
// The Game is one object for the whole process: after every Init its map,
// workbenches and physics bodies are cleared, so that nothing piles up from
// one input to the next; the log level an input sets is undone.
//
// Threads: libFuzzer's one thread, which plays the main thread.
#include <getopt.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "Game.h"
#include "Log.h"
#include "Map.h"

namespace {

struct FixtureMap {
    const char* name;  // the map path as the input writes it
    const char* path;  // the file Game::Init is given
};

// A valid map, one that ends after 60 rows and one with a character no map holds.
const FixtureMap FIXTURE_MAPS[] = {
    {"trade.txt", FUZZ_MAP_DIR "/trade.txt"},
    {"short.txt", FUZZ_MAP_DIR "/short.txt"},
    {"unknown_char.txt", FUZZ_MAP_DIR "/unknown_char.txt"},
};

const char* FixturePath(const std::string& mapPath) {
    for (const FixtureMap& fixture : FIXTURE_MAPS) {
        if (mapPath == fixture.name) return fixture.path;
    }
    return nullptr;
}

// The input split at NUL bytes; the text after the last NUL is the last argument.
std::vector<std::string> SplitArguments(const uint8_t* data, size_t size) {
    std::vector<std::string> args(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\0') args.emplace_back();
        else args.back() += static_cast<char>(data[i]);
    }
    return args;
}

// Empties what Game::Init fills: the map, both workbench lists and every body.
void ClearGame(Game& game) {
    game.GetMap() = Map();
    for (int i = 0; i < PLAYER_NUMS; ++i) game.GetPlayer(i).GetWorkbenches() = WorkbenchList();
    b2World& world = game.GetWorld().GetB2World();
    while (b2Body* body = world.GetBodyList()) world.DestroyBody(body);
}

void RunUpToMapLoad(Game& game, int argc, char** argv) {
    std::string mapPath;
    optind = 0;  // glibc: start a fresh scan of a new argv
    if (game.ParseOptions(argc, argv, mapPath) != Game::OPTIONS_OK) return;
    if (optind + 2 != argc) return;
    if (mapPath.empty()) return;
    const char* fixture = FixturePath(mapPath);
    if (fixture == nullptr) return;
    game.Init(fixture);
    ClearGame(game);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int s_logLevel = g_logLevel;
    std::vector<std::string> args = SplitArguments(data, size);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);

    RunUpToMapLoad(*Game::GetInstance(), static_cast<int>(args.size()), argv.data());
    g_logLevel = s_logLevel;
    return 0;
}

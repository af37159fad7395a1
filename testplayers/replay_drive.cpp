// A deterministic player that keeps its robots moving: each frame every robot
// gets a forward speed and a turn rate that depend only on the frame number
// and the robot id, and tries to buy and to sell, so that robots collide,
// turn and trade the same way in every run.  argv[1]: the frame whose answer
// is malformed and ends the match (default 150); that answer comes 500 ms
// late, long enough for a player that thinks a while about its answer.
#include "replay_player.h"

namespace {

void WriteDriveCommands(int frame) {
    for (int id = 0; id < 4; ++id) {
        printf("forward %d %g\n", id, ((frame / 40 + id) % 3) * 2.5 - 1.0);
        printf("rotate %d %g\n", id, ((frame / 25 + 2 * id) % 5 - 2) * 0.9);
        printf("buy %d\nsell %d\n", id, id);
    }
}

}  // namespace

int main(int argc, char** argv) { return RunReplayPlayer(argc > 1 ? atoi(argv[1]) : 150, 500, WriteDriveCommands); }

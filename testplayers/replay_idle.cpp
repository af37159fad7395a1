// A player that sends no commands.  argv[1]: the frame whose answer is
// malformed and ends the match (default 0: none); that answer comes 100 ms late.
#include "replay_player.h"

int main(int argc, char** argv) {
    return RunReplayPlayer(argc > 1 ? atoi(argv[1]) : 0, 100, [](int) {});
}

// Answers normally, but sends the unknown command "jump 0 1" at frame N
// (argv[1], default 3), between two good commands.
#include "bad_common.h"

int main(int argc, char** argv) {
    int badFrame = badplayer::ArgInt(argc, argv, 1, 3);
    return playerio::ServeFrameNumbers([badFrame](int frame, playerio::Answer& answer) {
        if (frame != badFrame) return;
        answer.Command("forward", 0, 1.0);
        answer.Command("jump", 0, 1.0);
        answer.Command("rotate", 0, 1.0);
    });
}

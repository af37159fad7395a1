// A player that takes part without playing: it answers the start text and
// every frame message at once with the frame number and no command, and ends
// when its input ends.
#include "PlayerIO.h"

int main() {
    return playerio::ServeFrameNumbers([](int, playerio::Answer&) {});
}

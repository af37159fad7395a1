// Answers normally until frame N (argv[1], default 5), then stops answering
// but goes on reading until its input ends.
#include "bad_common.h"

int main(int argc, char** argv) {
    int silentFrame = badplayer::ArgInt(argc, argv, 1, 5);
    playerio::LineReader in;
    if (!badplayer::Handshake(in)) return 0;
    int frame = 0;
    while (playerio::ReadFrameNumber(in, frame)) {
        if (frame >= silentFrame) break;
        if (!badplayer::SendEmptyAnswer(frame)) return 0;
    }
    badplayer::DrainInput(in);
    return 0;
}

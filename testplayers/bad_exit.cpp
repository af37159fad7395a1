// Answers normally and ends, without answering, when it receives frame N
// (argv[1], default 5).
#include "bad_common.h"

int main(int argc, char** argv) {
    int lastFrame = badplayer::ArgInt(argc, argv, 1, 5);
    playerio::LineReader in;
    if (!badplayer::Handshake(in)) return 0;
    int frame = 0;
    while (playerio::ReadFrameNumber(in, frame)) {
        if (frame >= lastFrame) return 0;
        if (!badplayer::SendEmptyAnswer(frame)) return 0;
    }
    return 0;
}

// Answers normally until frame N (argv[1], default 3), and from then on with
// a first line that holds no frame number.
#include "bad_common.h"

int main(int argc, char** argv) {
    int badFrame = badplayer::ArgInt(argc, argv, 1, 3);
    playerio::LineReader in;
    if (!badplayer::Handshake(in)) return 0;
    int frame = 0;
    while (playerio::ReadFrameNumber(in, frame)) {
        bool sent = frame >= badFrame ? playerio::WriteAll("abc\nOK\n") : badplayer::SendEmptyAnswer(frame);
        if (!sent) return 0;
    }
    return 0;
}

// Answers its first N - 1 frame messages (N is argv[1], default 5), then
// stops answering but goes on reading until its input ends.  It counts the
// messages rather than reading their frame numbers, so that it gives the
// same number of answers however many frames the referee skipped meanwhile.
#include "bad_common.h"

int main(int argc, char** argv) {
    int silentMessage = badplayer::ArgInt(argc, argv, 1, 5);
    playerio::LineReader in;
    if (!badplayer::Handshake(in)) return 0;
    int frame = 0;
    for (int message = 1; message < silentMessage && playerio::ReadFrameNumber(in, frame); ++message) {
        if (!badplayer::SendEmptyAnswer(frame)) return 0;
    }
    badplayer::DrainInput(in);
    return 0;
}

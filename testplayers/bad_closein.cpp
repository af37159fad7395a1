// Reads the start text and the first frame message, closes its standard
// input, answers that frame, and from argv[1] milliseconds later (default
// 300) goes on answering every 20 ms with rising frame numbers, until its
// output is gone (five minutes at the latest).  The pause lets the referee
// find the closed input when it writes the next frame message.
#include "bad_common.h"

int main(int argc, char** argv) {
    alarm(300);
    int pauseMs = badplayer::ArgInt(argc, argv, 1, 300);
    playerio::LineReader in;
    if (!badplayer::Handshake(in)) return 0;
    int frame = 0;
    if (!playerio::ReadFrameNumber(in, frame)) return 0;
    close(0);
    if (!badplayer::SendEmptyAnswer(frame)) return 0;
    badplayer::SleepMs(pauseMs);
    for (;;) {
        if (!badplayer::SendEmptyAnswer(++frame)) return 0;
        badplayer::SleepMs(20);
    }
}

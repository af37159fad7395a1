// Never reads its input: writes "OK" for the start text, and from argv[1]
// milliseconds later (default 300, so that the match has begun) an answer
// with a rising frame number every 20 ms, until its output is gone (five
// minutes at the latest).  The frame messages pile up in its input pipe.
#include "bad_common.h"

int main(int argc, char** argv) {
    alarm(300);
    int pauseMs = badplayer::ArgInt(argc, argv, 1, 300);
    if (!playerio::WriteAll("OK\n")) return 0;
    badplayer::SleepMs(pauseMs);
    for (int frame = 1;; ++frame) {
        if (!badplayer::SendEmptyAnswer(frame)) return 0;
        badplayer::SleepMs(20);
    }
}

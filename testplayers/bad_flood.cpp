// From frame N (argv[1], default 1) on, floods its output with lines of text
// that never hold "OK", as fast as the pipe takes them.  Ends when the output
// is gone, or after five minutes at the latest.
#include <signal.h>

#include "bad_common.h"

int main(int argc, char** argv) {
    alarm(300);
    int floodFrame = badplayer::ArgInt(argc, argv, 1, 1);
    playerio::LineReader in;
    if (!badplayer::Handshake(in)) return 0;
    int frame = 0;
    while (playerio::ReadFrameNumber(in, frame)) {
        if (frame >= floodFrame) break;
        if (!badplayer::SendEmptyAnswer(frame)) return 0;
    }
    std::string chunk;
    for (int i = 0; i < 1024; ++i) chunk += "flood flood flood flood flood flood flood flood flood flood flood\n";
    while (playerio::WriteAll(chunk)) {
    }
    return 0;
}

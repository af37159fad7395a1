// Answers normally until frame N (argv[1], default 3); there it forks a child
// that holds both pipes open, reading and dropping the input until it ends
// (five minutes at the latest), and exits itself without answering.
#include <sys/types.h>

#include "bad_common.h"

int main(int argc, char** argv) {
    int forkFrame = badplayer::ArgInt(argc, argv, 1, 3);
    playerio::LineReader in;
    if (!badplayer::Handshake(in)) return 0;
    int frame = 0;
    while (playerio::ReadFrameNumber(in, frame)) {
        if (frame >= forkFrame) {
            pid_t pid = fork();
            if (pid == 0) {
                alarm(300);
                badplayer::DrainInput(in);
                _exit(0);
            }
            return 0;
        }
        if (!badplayer::SendEmptyAnswer(frame)) return 0;
    }
    return 0;
}

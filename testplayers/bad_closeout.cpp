// Answers the start text, then closes its standard output and goes on
// reading its input until it ends (five minutes at the latest).
#include "bad_common.h"

int main() {
    alarm(300);
    playerio::LineReader in;
    if (!badplayer::Handshake(in)) return 0;
    close(1);
    badplayer::DrainInput(in);
    return 0;
}

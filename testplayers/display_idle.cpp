// A player that never moves: it answers the start text with "OK" and every
// frame message with its frame number and "OK".
//
// With the environment variable DISPLAY_IDLE_BLUE_FRAMES=N (for the first
// player) or DISPLAY_IDLE_RED_FRAMES=N (the second) it leaves after
// answering N frames, which ends a match early: the referee sees its output
// close, a runtime error of this player.
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

long FrameLimit(const char* colour) {
    const char* text = getenv(strcmp(colour, "BLUE") == 0 ? "DISPLAY_IDLE_BLUE_FRAMES" : "DISPLAY_IDLE_RED_FRAMES");
    return text ? strtol(text, nullptr, 10) : -1;
}

}  // namespace

int main() {
    long limit = -1;
    long answered = 0;
    bool handshakeDone = false;
    bool atMessageStart = true;
    long frame = 0;

    char* line = nullptr;
    size_t capacity = 0;
    while (getline(&line, &capacity, stdin) >= 0) {
        line[strcspn(line, "\r\n")] = '\0';
        if (strcmp(line, "OK") == 0) {
            if (handshakeDone) {
                printf("%ld\nOK\n", frame);
                ++answered;
            } else {
                printf("OK\n");
                handshakeDone = true;
            }
            fflush(stdout);
            atMessageStart = true;
            if (limit >= 0 && answered >= limit) break;
            continue;
        }
        if (!handshakeDone && (strcmp(line, "BLUE") == 0 || strcmp(line, "RED") == 0)) limit = FrameLimit(line);
        if (handshakeDone && atMessageStart) frame = strtol(line, nullptr, 10);
        atMessageStart = false;
    }
    free(line);
    return 0;
}

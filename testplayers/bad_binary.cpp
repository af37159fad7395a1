// Answers every frame message with its frame number, then a NUL byte and
// argv[1] bytes (default 4000) of binary junk (NUL, CR, LF and high bytes
// included, but never the letters "OK" in a row), then "OK".  The junk after
// the NUL is no part of the parsed answer, so a sound referee plays on.
#include <cstdint>

#include "bad_common.h"

int main(int argc, char** argv) {
    int junkBytes = badplayer::ArgInt(argc, argv, 1, 4000);
    playerio::LineReader in;
    if (!badplayer::Handshake(in)) return 0;
    uint32_t seed = 12345;  // fixed, so that every run writes the same bytes
    int frame = 0;
    std::string text;
    while (playerio::ReadFrameNumber(in, frame)) {
        text = std::to_string(frame) + "\n";
        text += '\0';
        for (int i = 0; i < junkBytes; ++i) {
            seed = seed * 1664525u + 1013904223u;
            char c = static_cast<char>(seed >> 24);
            if (c == 'O') c = 'o';
            text += c;
        }
        text += "\nOK\n";
        if (!playerio::WriteAll(text)) return 0;
    }
    return 0;
}

// Answers every frame message with its frame number followed by "OK"
// repeated argv[1] times (default 5000) in one write.
#include "bad_common.h"

int main(int argc, char** argv) {
    int count = badplayer::ArgInt(argc, argv, 1, 5000);
    playerio::LineReader in;
    if (!badplayer::Handshake(in)) return 0;
    int frame = 0;
    std::string text;
    while (playerio::ReadFrameNumber(in, frame)) {
        text = std::to_string(frame) + "\n";
        for (int i = 0; i < count; ++i) text += "OK\n";
        if (!playerio::WriteAll(text)) return 0;
    }
    return 0;
}

// Answers normally, but sends the unknown command "jump 0 1" at frame N
// (argv[1], default 3), between two good commands.  With argv[2] the unknown
// word is that many letters "q" instead of "jump".
#include <string>

#include "bad_common.h"

int main(int argc, char** argv) {
    const int badFrame = badplayer::ArgInt(argc, argv, 1, 3);
    const int wordLen = badplayer::ArgInt(argc, argv, 2, 0);
    const std::string word = wordLen > 0 ? std::string(static_cast<size_t>(wordLen), 'q') : "jump";
    return playerio::ServeFrameNumbers([badFrame, &word](int frame, playerio::Answer& answer) {
        if (frame != badFrame) return;
        answer.Command("forward", 0, 1.0);
        answer.Command(word.c_str(), 0, 1.0);
        answer.Command("rotate", 0, 1.0);
    });
}

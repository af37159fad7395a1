// Answers every frame message at once and well, but first writes argv[1]
// bytes (default 4096) of text to its standard error each time.
#include "bad_common.h"

int main(int argc, char** argv) {
    int bytes = badplayer::ArgInt(argc, argv, 1, 4096);
    std::string noise;
    while (static_cast<int>(noise.size()) < bytes) noise += "bad_stderr writes a lot of text to its standard error.\n";
    noise.resize(bytes > 0 ? bytes : 0);
    return playerio::ServeFrameNumbers([&noise](int, playerio::Answer&) { playerio::WriteAll(noise, 2); });
}

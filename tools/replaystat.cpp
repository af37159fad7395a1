// Reads a replay file and tells how many explored-cells images it shows
// were encoded: frames whose image differs from the latest one before it
// (frames at multiples of 16 repeat the latest image and do not count).
//   zvreplaystat <replay> [last.png]
// prints "frames N images M last_png_bytes B" and, given a second path,
// writes the last image there.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "Replay.pb.h"

namespace {

bool ReadFile(const char* path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s <replay> [last.png]\n", argv[0]);
        return 2;
    }
    std::string file;
    if (!ReadFile(argv[1], file) || file.size() < 4) {
        fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    const unsigned char* p = reinterpret_cast<const unsigned char*>(file.data());
    const size_t headerLen = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<size_t>(p[3]) << 24);
    replay_protocol::Rep rep;
    if (headerLen > file.size() - 4 || !rep.ParseFromArray(file.data() + 4, static_cast<int>(headerLen))) {
        fprintf(stderr, "bad replay header\n");
        return 1;
    }
    size_t offset = 4 + headerLen;
    std::string latest;
    int images = 0;
    for (int i = 0; i < rep.length_of_frames_size(); ++i) {
        const size_t len = static_cast<size_t>(rep.length_of_frames(i));
        replay_protocol::Frame frame;
        if (len > file.size() - offset || !frame.ParseFromArray(file.data() + offset, static_cast<int>(len))) {
            fprintf(stderr, "bad frame %d\n", i);
            return 1;
        }
        offset += len;
        if (!frame.shadow_png().empty() && frame.shadow_png() != latest) {
            latest = frame.shadow_png();
            ++images;
        }
    }
    printf("frames %d images %d last_png_bytes %zu\n", rep.length_of_frames_size(), images, latest.size());
    if (argc > 2) {
        FILE* out = fopen(argv[2], "wb");
        if (!out || fwrite(latest.data(), 1, latest.size(), out) != latest.size()) {
            fprintf(stderr, "cannot write %s\n", argv[2]);
            return 1;
        }
        fclose(out);
    }
    return 0;
}

// Shared by the replay tests: decoding the explored-cells image and reading a
// replay file back with the generated classes.
#pragma once

#include <png.h>

#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "Replay.pb.h"

struct Rgba {
    int r, g, b, a;
    bool operator==(const Rgba& o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
    bool operator!=(const Rgba& o) const { return !(*this == o); }
};

inline std::ostream& operator<<(std::ostream& os, const Rgba& p) {
    return os << "(" << p.r << "," << p.g << "," << p.b << "," << p.a << ")";
}

// The colours of a cell by who has explored it.
const Rgba UNEXPLORED{0, 0, 0, 128};
const Rgba FIRST_ONLY{128, 0, 0, 64};
const Rgba SECOND_ONLY{0, 0, 128, 64};
const Rgba BOTH{0, 0, 0, 0};

// A PNG decoded by libpng as 8-bit RGBA rows, top row first.
struct DecodedImage {
    bool ok = false;
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> pixels;

    Rgba At(int row, int col) const {
        const uint8_t* p = &pixels[(static_cast<size_t>(row) * width + col) * 4];
        return Rgba{p[0], p[1], p[2], p[3]};
    }
};

inline DecodedImage DecodePng(const std::string& png) {
    DecodedImage out;
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) return out;
    image.format = PNG_FORMAT_RGBA;
    out.width = image.width;
    out.height = image.height;
    out.pixels.resize(PNG_IMAGE_SIZE(image));
    out.ok = png_image_finish_read(&image, nullptr, out.pixels.data(), 0, nullptr) != 0;
    return out;
}

// A replay file cut as its layout says: the 4-byte little-endian header
// length, the header, then the frames by the header's frame lengths.
struct ReplayFile {
    std::string error;  // empty when the whole file was read
    uint32_t headerLen = 0;
    std::string headerBytes;
    replay_protocol::Rep header;
    std::vector<std::string> frameBytes;
    std::vector<replay_protocol::Frame> frames;
};

inline ReplayFile ReadReplay(const std::string& file) {
    ReplayFile out;
    if (file.size() < 4) {
        out.error = "shorter than the length field";
        return out;
    }
    const auto* b = reinterpret_cast<const unsigned char*>(file.data());
    out.headerLen = uint32_t{b[0]} | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 24);
    if (out.headerLen > file.size() - 4) {
        out.error = "header length beyond the file";
        return out;
    }
    out.headerBytes = file.substr(4, out.headerLen);
    if (!out.header.ParseFromString(out.headerBytes)) {
        out.error = "header does not parse";
        return out;
    }
    size_t pos = 4 + out.headerLen;
    for (int32_t len : out.header.length_of_frames()) {
        if (len < 0 || static_cast<size_t>(len) > file.size() - pos) {
            out.error = "frame lengths run past the file";
            return out;
        }
        out.frameBytes.push_back(file.substr(pos, len));
        out.frames.emplace_back();
        if (!out.frames.back().ParseFromString(out.frameBytes.back())) {
            out.error = "frame " + std::to_string(out.frames.size()) + " does not parse";
            return out;
        }
        pos += len;
    }
    if (pos != file.size()) out.error = "frame lengths do not add up to the rest of the file";
    return out;
}

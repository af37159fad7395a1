// Helpers of the window tests: where an arena point lands in the window, how
// the window blends its colours, and reading the glyph text back from a
// screenshot with the font files under Img/font.
#pragma once

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace probe {

struct Rgb {
    int r, g, b;
};

inline std::string ToString(Rgb c) {
    return "(" + std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) + ")";
}

inline bool Near(Rgb a, Rgb b, int tolerance = 3) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}

// Source-over blending of a colour with alpha (0..255) on the framebuffer colour.
inline Rgb Blend(Rgb src, int alpha, Rgb dst) {
    auto mix = [alpha](int s, int d) { return static_cast<int>(std::lround((s * alpha + d * (255 - alpha)) / 255.0)); };
    return {mix(src.r, dst.r), mix(src.g, dst.g), mix(src.b, dst.b)};
}

// A picture of the window, top row first.
struct Screenshot {
    int width = 0;
    int height = 0;
    std::vector<Rgb> pixels;

    Rgb At(int x, int y) const {
        if (x < 0 || y < 0 || x >= width || y >= height) return {-1, -1, -1};
        return pixels[static_cast<size_t>(y) * width + x];
    }

    // The window pixel under an arena point (metres), for the arena view of
    // the window: translate (-0.25, -0.95), scale (3/140, 4/105).
    void ArenaToPixel(double ax, double ay, int& px, int& py) const {
        const double ndcX = -0.25 + ax * 3.0 / 140.0;
        const double ndcY = -0.95 + ay * 4.0 / 105.0;
        px = static_cast<int>(std::floor((ndcX + 1.0) / 2.0 * width));
        py = static_cast<int>(std::floor((1.0 - ndcY) / 2.0 * height));
    }

    Rgb AtArena(double ax, double ay) const {
        int px, py;
        ArenaToPixel(ax, ay, px, py);
        return At(px, py);
    }
};

// Keeps a screenshot as a PNG file for a person to look at, when the
// environment variable DISPLAY_TEST_SHOTS names a directory.
inline void KeepScreenshot(const Screenshot& shot, const std::string& name) {
    const char* dir = getenv("DISPLAY_TEST_SHOTS");
    if (!dir || shot.width == 0) return;
    FILE* fp = fopen((std::string(dir) + "/" + name + ".png").c_str(), "wb");
    if (!fp) return;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, fp);
    png_set_IHDR(png, info, shot.width, shot.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<uint8_t> row(static_cast<size_t>(shot.width) * 3);
    for (int y = 0; y < shot.height; ++y) {
        for (int x = 0; x < shot.width; ++x) {
            Rgb c = shot.At(x, y);
            row[x * 3] = static_cast<uint8_t>(c.r);
            row[x * 3 + 1] = static_cast<uint8_t>(c.g);
            row[x * 3 + 2] = static_cast<uint8_t>(c.b);
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    fclose(fp);
}

// An 8-bit RGB or RGBA PNG file, top row first.
struct PngFile {
    int width = 0;
    int height = 0;
    int channels = 0;
    std::vector<uint8_t> data;

    bool Load(const std::string& path) {
        FILE* fp = fopen(path.c_str(), "rb");
        if (!fp) return false;
        png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        if (setjmp(png_jmpbuf(png))) {
            png_destroy_read_struct(&png, &info, nullptr);
            fclose(fp);
            return false;
        }
        png_init_io(png, fp);
        png_read_png(png, info, PNG_TRANSFORM_STRIP_16 | PNG_TRANSFORM_PACKING | PNG_TRANSFORM_EXPAND, nullptr);
        width = static_cast<int>(png_get_image_width(png, info));
        height = static_cast<int>(png_get_image_height(png, info));
        channels = png_get_channels(png, info);
        png_bytepp rows = png_get_rows(png, info);
        data.resize(static_cast<size_t>(width) * height * channels);
        for (int y = 0; y < height; ++y)
            std::copy(rows[y], rows[y] + static_cast<size_t>(width) * channels, &data[static_cast<size_t>(y) * width * channels]);
        png_destroy_read_struct(&png, &info, nullptr);
        fclose(fp);
        return true;
    }

    Rgb At(int x, int y) const {
        const uint8_t* p = &data[(static_cast<size_t>(y) * width + x) * channels];
        return {p[0], p[1], p[2]};
    }
    // The texel that texture coordinate (u, v) picks with nearest filtering (v = 0 is the bottom row).
    Rgb AtUv(double u, double v) const {
        int x = std::min(width - 1, static_cast<int>(u * width));
        int y = std::min(height - 1, static_cast<int>(v * height));
        return At(x, height - 1 - y);
    }
    // Ink of a three-channel glyph: anything not pure white.
    bool Ink(int x, int y) const {
        Rgb c = At(x, y);
        return !(c.r == 255 && c.g == 255 && c.b == 255);
    }
};

inline std::string ImgPath(const std::string& name) { return std::string(SOURCE_DIR) + "/Img/" + name; }

// The background texel shown at a window pixel (the background is stretched over the window).
inline Rgb BackgroundAt(const PngFile& background, const Screenshot& shot, int px, int py) {
    return background.AtUv((px + 0.5) / shot.width, 1.0 - (py + 0.5) / shot.height);
}

// Reads `count` glyphs of text drawn with the window's text layout (first
// glyph centred on x, centred vertically on y, `size` units tall, no
// spacing), matching each against the glyph files of `candidates`; '?'
// where none matches.  isInk tells ink pixels from the ground.
template <typename IsInk>
std::string ReadText(const Screenshot& shot, double x, double y, double size, int count, const std::string& candidates,
                     IsInk isInk) {
    std::vector<std::pair<char, PngFile>> glyphs;
    for (char c : candidates) {
        PngFile glyph;
        if (glyph.Load(ImgPath("font/" + std::to_string(static_cast<int>(c)) + ".png"))) glyphs.push_back({c, glyph});
    }
    if (glyphs.empty()) return std::string(count, '?');
    const int gw = glyphs[0].second.width;
    const int gh = glyphs[0].second.height;
    const double halfHeight = size * 0.5;
    const double halfWidth = gw * halfHeight / gh;
    const double texel = 2.0 * halfHeight / gh;
    std::string text;
    for (int i = 0; i < count; ++i) {
        const double left = x + 2.0 * halfWidth * i - halfWidth;
        const double top = y + halfHeight;
        char found = '?';
        for (const auto& [c, glyph] : glyphs) {
            bool same = glyph.width == gw && glyph.height == gh;
            for (int row = 0; row < gh && same; ++row)
                for (int col = 0; col < gw && same; ++col) {
                    Rgb seen = shot.AtArena(left + (col + 0.5) * texel, top - (row + 0.5) * texel);
                    same = isInk(seen) == glyph.Ink(col, row);
                }
            if (same) {
                found = c;
                break;
            }
        }
        text += found;
    }
    return text;
}

}  // namespace probe

// Draws every picture the referee's window reads from Img/ and Img/font/:
// the background, the banner, the robots, the money icons, the workbenches
// and a small bitmap font, all from simple shapes.
//
//   zvimggen <dir>          writes the images into <dir> (and <dir>/font)
//   zvimggen --check <dir>  compares the images in <dir> with what it would
//                           draw, pixel by pixel; exit code 1 on a difference
//
// Two kinds of file are written, as the window's loader reads both:
// three-channel images in which pure white is transparent (background,
// workbenches, glyphs) and RGBA images with their own alpha (banner, robots,
// money icons).
#include <png.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Rgb {
    uint8_t r, g, b;
};

const Rgb WHITE = {255, 255, 255};

// An image being drawn: 3 or 4 bytes per pixel, top row first.
struct Image {
    int width = 0;
    int height = 0;
    int channels = 3;
    std::vector<uint8_t> pixels;

    Image(int w, int h, int ch) : width(w), height(h), channels(ch), pixels(static_cast<size_t>(w) * h * ch, 0) {}

    uint8_t* At(int x, int y) { return &pixels[(static_cast<size_t>(y) * width + x) * channels]; }

    void Set(int x, int y, Rgb c, uint8_t alpha = 255) {
        if (x < 0 || y < 0 || x >= width || y >= height) return;
        uint8_t* p = At(x, y);
        p[0] = c.r;
        p[1] = c.g;
        p[2] = c.b;
        if (channels == 4) p[3] = alpha;
    }

    void Fill(Rgb c, uint8_t alpha = 255) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) Set(x, y, c, alpha);
    }

    void FillRect(int x0, int y0, int x1, int y1, Rgb c, uint8_t alpha = 255) {
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) Set(x, y, c, alpha);
    }
};

// ---------------------------------------------------------------- font
// 5 by 8 cells ('#' ink), row 7 for descenders.  In a glyph image every
// font pixel is 2 wide and 3 high, with one blank column on either side:
// 12 by 24 pixels, a narrow face that fits the tight rows of material digits.
constexpr int GLYPH_W = 5;
constexpr int GLYPH_H = 8;
constexpr int GLYPH_ADVANCE = 6;  // cells, when the generator itself writes text
constexpr int GLYPH_SCALE_X = 2;
constexpr int GLYPH_SCALE_Y = 3;
constexpr int GLYPH_IMAGE_W = GLYPH_W * GLYPH_SCALE_X + 2;
constexpr int GLYPH_IMAGE_H = GLYPH_H * GLYPH_SCALE_Y;
constexpr int FIRST_GLYPH = 33;
constexpr int LAST_GLYPH = 127;

const char* const FONT[LAST_GLYPH - FIRST_GLYPH + 1][GLYPH_H] = {
    {"..#..", "..#..", "..#..", "..#..", "..#..", ".....", "..#..", "....."},  // !
    {".#.#.", ".#.#.", ".#.#.", ".....", ".....", ".....", ".....", "....."},  // "
    {".#.#.", ".#.#.", "#####", ".#.#.", "#####", ".#.#.", ".#.#.", "....."},  // #
    {"..#..", ".####", "#.#..", ".###.", "..#.#", "####.", "..#..", "....."},  // $
    {"##...", "##..#", "...#.", "..#..", ".#...", "#..##", "...##", "....."},  // %
    {".##..", "#..#.", "#.#..", ".#...", "#.#.#", "#..#.", ".##.#", "....."},  // &
    {"..#..", "..#..", ".#...", ".....", ".....", ".....", ".....", "....."},  // '
    {"...#.", "..#..", ".#...", ".#...", ".#...", "..#..", "...#.", "....."},  // (
    {".#...", "..#..", "...#.", "...#.", "...#.", "..#..", ".#...", "....."},  // )
    {".....", "..#..", "#.#.#", ".###.", "#.#.#", "..#..", ".....", "....."},  // *
    {".....", "..#..", "..#..", "#####", "..#..", "..#..", ".....", "....."},  // +
    {".....", ".....", ".....", ".....", ".....", ".##..", "..#..", ".#..."},  // ,
    {".....", ".....", ".....", "#####", ".....", ".....", ".....", "....."},  // -
    {".....", ".....", ".....", ".....", ".....", ".##..", ".##..", "....."},  // .
    {".....", "....#", "...#.", "..#..", ".#...", "#....", ".....", "....."},  // /
    {".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###.", "....."},  // 0
    {"..#..", ".##..", "..#..", "..#..", "..#..", "..#..", ".###.", "....."},  // 1
    {".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####", "....."},  // 2
    {"#####", "...#.", "..#..", "...#.", "....#", "#...#", ".###.", "....."},  // 3
    {"...#.", "..##.", ".#.#.", "#..#.", "#####", "...#.", "...#.", "....."},  // 4
    {"#####", "#....", "####.", "....#", "....#", "#...#", ".###.", "....."},  // 5
    {"..##.", ".#...", "#....", "####.", "#...#", "#...#", ".###.", "....."},  // 6
    {"#####", "....#", "...#.", "..#..", ".#...", ".#...", ".#...", "....."},  // 7
    {".###.", "#...#", "#...#", ".###.", "#...#", "#...#", ".###.", "....."},  // 8
    {".###.", "#...#", "#...#", ".####", "....#", "...#.", ".##..", "....."},  // 9
    {".....", ".##..", ".##..", ".....", ".##..", ".##..", ".....", "....."},  // :
    {".....", ".##..", ".##..", ".....", ".##..", "..#..", ".#...", "....."},  // ;
    {"...#.", "..#..", ".#...", "#....", ".#...", "..#..", "...#.", "....."},  // <
    {".....", ".....", "#####", ".....", "#####", ".....", ".....", "....."},  // =
    {".#...", "..#..", "...#.", "....#", "...#.", "..#..", ".#...", "....."},  // >
    {".###.", "#...#", "....#", "...#.", "..#..", ".....", "..#..", "....."},  // ?
    {".###.", "#...#", "....#", ".##.#", "#.#.#", "#.#.#", ".###.", "....."},  // @
    {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#", "....."},  // A
    {"####.", "#...#", "#...#", "####.", "#...#", "#...#", "####.", "....."},  // B
    {".###.", "#...#", "#....", "#....", "#....", "#...#", ".###.", "....."},  // C
    {"###..", "#..#.", "#...#", "#...#", "#...#", "#..#.", "###..", "....."},  // D
    {"#####", "#....", "#....", "####.", "#....", "#....", "#####", "....."},  // E
    {"#####", "#....", "#....", "####.", "#....", "#....", "#....", "....."},  // F
    {".###.", "#...#", "#....", "#.###", "#...#", "#...#", ".####", "....."},  // G
    {"#...#", "#...#", "#...#", "#####", "#...#", "#...#", "#...#", "....."},  // H
    {".###.", "..#..", "..#..", "..#..", "..#..", "..#..", ".###.", "....."},  // I
    {"..###", "...#.", "...#.", "...#.", "...#.", "#..#.", ".##..", "....."},  // J
    {"#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#", "....."},  // K
    {"#....", "#....", "#....", "#....", "#....", "#....", "#####", "....."},  // L
    {"#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#", "....."},  // M
    {"#...#", "#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#", "....."},  // N
    {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###.", "....."},  // O
    {"####.", "#...#", "#...#", "####.", "#....", "#....", "#....", "....."},  // P
    {".###.", "#...#", "#...#", "#...#", "#.#.#", "#..#.", ".##.#", "....."},  // Q
    {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#", "....."},  // R
    {".####", "#....", "#....", ".###.", "....#", "....#", "####.", "....."},  // S
    {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#..", "....."},  // T
    {"#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###.", "....."},  // U
    {"#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#..", "....."},  // V
    {"#...#", "#...#", "#...#", "#.#.#", "#.#.#", "#.#.#", ".#.#.", "....."},  // W
    {"#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#", "....."},  // X
    {"#...#", "#...#", "#...#", ".#.#.", "..#..", "..#..", "..#..", "....."},  // Y
    {"#####", "....#", "...#.", "..#..", ".#...", "#....", "#####", "....."},  // Z
    {".###.", ".#...", ".#...", ".#...", ".#...", ".#...", ".###.", "....."},  // [
    {".....", "#....", ".#...", "..#..", "...#.", "....#", ".....", "....."},  // backslash
    {".###.", "...#.", "...#.", "...#.", "...#.", "...#.", ".###.", "....."},  // ]
    {"..#..", ".#.#.", "#...#", ".....", ".....", ".....", ".....", "....."},  // ^
    {".....", ".....", ".....", ".....", ".....", ".....", "#####", "....."},  // _
    {".#...", "..#..", "...#.", ".....", ".....", ".....", ".....", "....."},  // `
    {".....", ".....", ".###.", "....#", ".####", "#...#", ".####", "....."},  // a
    {"#....", "#....", "#.##.", "##..#", "#...#", "#...#", "####.", "....."},  // b
    {".....", ".....", ".###.", "#....", "#....", "#...#", ".###.", "....."},  // c
    {"....#", "....#", ".##.#", "#..##", "#...#", "#...#", ".####", "....."},  // d
    {".....", ".....", ".###.", "#...#", "#####", "#....", ".###.", "....."},  // e
    {"..##.", ".#..#", ".#...", "###..", ".#...", ".#...", ".#...", "....."},  // f
    {".....", ".....", ".####", "#...#", "#...#", ".####", "....#", ".###."},  // g
    {"#....", "#....", "#.##.", "##..#", "#...#", "#...#", "#...#", "....."},  // h
    {"..#..", ".....", ".##..", "..#..", "..#..", "..#..", ".###.", "....."},  // i
    {"...#.", ".....", "..##.", "...#.", "...#.", "...#.", "#..#.", ".##.."},  // j
    {"#....", "#....", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "....."},  // k
    {".##..", "..#..", "..#..", "..#..", "..#..", "..#..", ".###.", "....."},  // l
    {".....", ".....", "##.#.", "#.#.#", "#.#.#", "#...#", "#...#", "....."},  // m
    {".....", ".....", "#.##.", "##..#", "#...#", "#...#", "#...#", "....."},  // n
    {".....", ".....", ".###.", "#...#", "#...#", "#...#", ".###.", "....."},  // o
    {".....", ".....", "####.", "#...#", "#...#", "####.", "#....", "#...."},  // p
    {".....", ".....", ".####", "#...#", "#...#", ".####", "....#", "....#"},  // q
    {".....", ".....", "#.##.", "##..#", "#....", "#....", "#....", "....."},  // r
    {".....", ".....", ".####", "#....", ".###.", "....#", "####.", "....."},  // s
    {".#...", ".#...", "###..", ".#...", ".#...", ".#..#", "..##.", "....."},  // t
    {".....", ".....", "#...#", "#...#", "#...#", "#..##", ".##.#", "....."},  // u
    {".....", ".....", "#...#", "#...#", "#...#", ".#.#.", "..#..", "....."},  // v
    {".....", ".....", "#...#", "#...#", "#.#.#", "#.#.#", ".#.#.", "....."},  // w
    {".....", ".....", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "....."},  // x
    {".....", ".....", "#...#", "#...#", "#...#", ".####", "....#", ".###."},  // y
    {".....", ".....", "#####", "...#.", "..#..", ".#...", "#####", "....."},  // z
    {"...##", "..#..", "..#..", ".#...", "..#..", "..#..", "...##", "....."},  // {
    {"..#..", "..#..", "..#..", "..#..", "..#..", "..#..", "..#..", "....."},  // |
    {"##...", "..#..", "..#..", "...#.", "..#..", "..#..", "##...", "....."},  // }
    {".....", ".....", ".#...", "#.#.#", "...#.", ".....", ".....", "....."},  // ~
    {"#####", "#...#", "#...#", "#...#", "#...#", "#...#", "#####", "....."},  // DEL: a box
};

bool GlyphInk(int code, int col, int row) {
    if (code < FIRST_GLYPH || code > LAST_GLYPH || col < 0 || col >= GLYPH_W || row < 0 || row >= GLYPH_H)
        return false;
    return FONT[code - FIRST_GLYPH][row][col] == '#';
}

// Writes text with the font, each font pixel a scale × scale block, the
// first cell's top-left at (x, y).
void DrawText(Image& img, const char* text, int x, int y, int scale, Rgb ink, uint8_t alpha = 255) {
    for (const char* p = text; *p; ++p, x += GLYPH_ADVANCE * scale) {
        for (int row = 0; row < GLYPH_H; ++row)
            for (int col = 0; col < GLYPH_W; ++col)
                if (GlyphInk(static_cast<unsigned char>(*p), col, row))
                    img.FillRect(x + col * scale, y + row * scale, x + (col + 1) * scale, y + (row + 1) * scale, ink,
                                 alpha);
    }
}

int TextWidth(const char* text, int scale) { return (static_cast<int>(strlen(text)) * GLYPH_ADVANCE - 1) * scale; }

Image MakeGlyph(int code) {
    const Rgb ink = {24, 24, 32};
    Image img(GLYPH_IMAGE_W, GLYPH_IMAGE_H, 3);
    img.Fill(WHITE);
    for (int row = 0; row < GLYPH_H; ++row)
        for (int col = 0; col < GLYPH_W; ++col)
            if (GlyphInk(code, col, row))
                img.FillRect(1 + col * GLYPH_SCALE_X, row * GLYPH_SCALE_Y, 1 + (col + 1) * GLYPH_SCALE_X,
                             (row + 1) * GLYPH_SCALE_Y, ink);
    return img;
}

// ---------------------------------------------------------------- pictures

// The share of pixel (x, y) inside the disc, sampled 4 × 4.
float DiscCoverage(int x, int y, float cx, float cy, float radius) {
    int inside = 0;
    for (int sy = 0; sy < 4; ++sy)
        for (int sx = 0; sx < 4; ++sx) {
            float px = x + (sx + 0.5f) / 4.0f - cx;
            float py = y + (sy + 0.5f) / 4.0f - cy;
            if (px * px + py * py <= radius * radius) ++inside;
        }
    return inside / 16.0f;
}

// The window's backdrop: a calm field with a darker band at the top and the bottom.
Image MakeBackground() {
    const Rgb field = {206, 216, 230};
    const Rgb band = {58, 78, 118};
    const Rgb line = {150, 170, 205};
    Image img(336, 189, 3);
    img.Fill(field);
    // The bands stay clear of the arena, 21 window pixels from the top and bottom.
    img.FillRect(0, 0, 336, 3, band);
    img.FillRect(0, 3, 336, 4, line);
    img.FillRect(0, 186, 336, 189, band);
    img.FillRect(0, 185, 336, 186, line);
    return img;
}

// The title plate beside the arena.
Image MakeBanner() {
    const int w = 320;
    const int h = 110;
    const float radius = 14.0f;
    const Rgb plate = {28, 44, 84};
    const Rgb rim = {230, 190, 60};
    Image img(w, h, 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            // Distance outside the rounded rectangle's inner box decides plate, rim or nothing.
            float dx = std::max(0.0f, std::max(radius - (x + 0.5f), (x + 0.5f) - (w - radius)));
            float dy = std::max(0.0f, std::max(radius - (y + 0.5f), (y + 0.5f) - (h - radius)));
            float d = std::sqrt(dx * dx + dy * dy);
            if (d > radius) continue;
            if (d > radius - 3.0f || x < 3 || y < 3 || x >= w - 3 || y >= h - 3) {
                img.Set(x, y, rim, 255);
            } else {
                img.Set(x, y, plate, 235);
            }
        }
    const char* title = "ZENTRIK VARNHOLT";
    DrawText(img, title, (w - TextWidth(title, 3)) / 2, 14, 3, Rgb{235, 240, 250});
    const char* year = "2023";
    DrawText(img, year, (w - TextWidth(year, 6)) / 2, 50, 6, rim);
    return img;
}

// A robot seen from above, facing +x (right): body, rim and a light nose.
Image MakeRobot(Rgb body, Rgb rim, Rgb nose) {
    const int size = 64;
    const float c = size / 2.0f;
    Image img(size, size, 4);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            float cover = DiscCoverage(x, y, c, c, 31.0f);
            if (cover <= 0.0f) continue;
            float dx = x + 0.5f - c;
            float dy = y + 0.5f - c;
            float dist = std::sqrt(dx * dx + dy * dy);
            Rgb colour = dist > 26.0f ? rim : body;
            // The nose: a wedge towards +x, as wide as it is far from the centre.
            if (dx > 6.0f && dx < 24.0f && std::fabs(dy) < (24.0f - dx) * 0.6f) colour = nose;
            img.Set(x, y, colour, static_cast<uint8_t>(std::lround(cover * 255.0f)));
        }
    return img;
}

// A coin with the player's colour as its rim and a dollar sign.
Image MakeMoney(Rgb rim) {
    const int size = 48;
    const float c = size / 2.0f;
    const Rgb gold = {236, 190, 60};
    const Rgb mark = {140, 96, 16};
    Image img(size, size, 4);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            float cover = DiscCoverage(x, y, c, c, 23.0f);
            if (cover <= 0.0f) continue;
            float dx = x + 0.5f - c;
            float dy = y + 0.5f - c;
            Rgb colour = std::sqrt(dx * dx + dy * dy) > 19.0f ? rim : gold;
            img.Set(x, y, colour, static_cast<uint8_t>(std::lround(cover * 255.0f)));
        }
    DrawText(img, "$", (size - 5 * 4) / 2, (size - 7 * 4) / 2, 4, mark);
    return img;
}

// A workbench: a rounded square in the player's colour filled with the
// type's colour and showing the type; the "_p" variant adds a green ring.
Image MakeWorkbench(int type, Rgb playerColour, bool productReady) {
    static const Rgb TYPE_COLOURS[10] = {
        {0, 0, 0},       {250, 200, 120}, {170, 220, 140}, {150, 200, 240}, {230, 160, 220},
        {190, 170, 240}, {160, 230, 220}, {240, 230, 130}, {200, 200, 200}, {150, 150, 160},
    };
    const int size = 24;
    Image img(size, size, 3);
    img.Fill(WHITE);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            // Rounded corners stay white: transparent in a three-channel image.
            int cx = std::min(x, size - 1 - x);
            int cy = std::min(y, size - 1 - y);
            if (cx + cy < 3) continue;
            int edge = std::min(cx, cy);
            if (edge < 2) {
                img.Set(x, y, playerColour);
            } else if (productReady && edge < 4) {
                img.Set(x, y, Rgb{40, 200, 60});
            } else {
                img.Set(x, y, TYPE_COLOURS[type]);
            }
        }
    char digit[2] = {static_cast<char>('0' + type), '\0'};
    DrawText(img, digit, 7, 5, 2, Rgb{30, 30, 40});
    return img;
}

// ---------------------------------------------------------------- files

bool WritePng(const std::string& path, const Image& img) {
    FILE* fp = fopen(path.c_str(), "wb");
    if (!fp) {
        fprintf(stderr, "Can not write %s: %s\n", path.c_str(), strerror(errno));
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        fclose(fp);
        fprintf(stderr, "Can not encode %s\n", path.c_str());
        return false;
    }
    png_init_io(png, fp);
    png_set_compression_level(png, 9);
    png_set_IHDR(png, info, img.width, img.height, 8, img.channels == 4 ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < img.height; ++y)
        png_write_row(png, &img.pixels[static_cast<size_t>(y) * img.width * img.channels]);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return fclose(fp) == 0;
}

// Reads a PNG as 8-bit RGB or RGBA rows; false when it is not one.
bool ReadPng(const std::string& path, Image& out) {
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
    const int w = static_cast<int>(png_get_image_width(png, info));
    const int h = static_cast<int>(png_get_image_height(png, info));
    const int channels = png_get_channels(png, info);
    bool ok = channels == 3 || channels == 4;
    if (ok) {
        out = Image(w, h, channels);
        png_bytepp rows = png_get_rows(png, info);
        for (int y = 0; y < h; ++y) memcpy(out.At(0, y), rows[y], static_cast<size_t>(w) * channels);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    fclose(fp);
    return ok;
}

struct NamedImage {
    std::string name;  // relative to the image directory
    Image image;
};

std::vector<NamedImage> DrawAll() {
    const Rgb blue = {40, 80, 190};
    const Rgb red = {190, 50, 40};
    std::vector<NamedImage> all;
    all.push_back({"background.png", MakeBackground()});
    all.push_back({"banner.png", MakeBanner()});
    all.push_back({"robot.png", MakeRobot(Rgb{52, 104, 214}, Rgb{22, 50, 120}, Rgb{200, 225, 255})});
    all.push_back({"robot2.png", MakeRobot(Rgb{214, 64, 52}, Rgb{120, 28, 22}, Rgb{255, 215, 200})});
    all.push_back({"money.png", MakeMoney(blue)});
    all.push_back({"money2.png", MakeMoney(red)});
    char name[32];
    for (int type = 1; type <= 9; ++type) {
        for (int ready = 0; ready < 2; ++ready) {
            snprintf(name, sizeof name, "%d%s.png", type, ready ? "_p" : "");
            all.push_back({name, MakeWorkbench(type, blue, ready)});
            snprintf(name, sizeof name, "%c%s.png", 'a' + type - 1, ready ? "_p" : "");
            all.push_back({name, MakeWorkbench(type, red, ready)});
        }
    }
    for (int code = FIRST_GLYPH; code <= LAST_GLYPH; ++code) {
        snprintf(name, sizeof name, "font/%d.png", code);
        all.push_back({name, MakeGlyph(code)});
    }
    return all;
}

int Write(const std::string& dir) {
    mkdir(dir.c_str(), 0777);
    mkdir((dir + "/font").c_str(), 0777);
    for (const NamedImage& item : DrawAll()) {
        if (!WritePng(dir + "/" + item.name, item.image)) return 1;
    }
    return 0;
}

int Check(const std::string& dir) {
    int differences = 0;
    for (const NamedImage& item : DrawAll()) {
        Image found(0, 0, 3);
        const std::string path = dir + "/" + item.name;
        if (!ReadPng(path, found)) {
            fprintf(stderr, "%s: missing or not an RGB/RGBA PNG\n", path.c_str());
            ++differences;
        } else if (found.width != item.image.width || found.height != item.image.height ||
                   found.channels != item.image.channels || found.pixels != item.image.pixels) {
            fprintf(stderr, "%s: differs from the drawing (%dx%dx%d, expected %dx%dx%d)\n", path.c_str(), found.width,
                    found.height, found.channels, item.image.width, item.image.height, item.image.channels);
            ++differences;
        }
    }
    if (differences) {
        fprintf(stderr, "%d image(s) differ; regenerate with: zvimggen %s\n", differences, dir.c_str());
        return 1;
    }
    printf("All images in %s match their drawings.\n", dir.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && strcmp(argv[1], "--check") != 0) return Write(argv[1]);
    if (argc == 3 && strcmp(argv[1], "--check") == 0) return Check(argv[2]);
    fprintf(stderr, "Usage: %s <dir> | --check <dir>\n", argv[0]);
    return 2;
}

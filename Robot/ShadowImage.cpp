#include "ShadowImage.h"

#include <png.h>

#include <cstring>

#include "ExploredCells.h"
#include "Log.h"
#include "Platform.h"

uint8_t g_PNGData[1048576];
int32_t g_PNGDataLen = 0;

namespace {

constexpr int SHADOW_CHANNELS = 4;  // red, green, blue, alpha
png_byte s_shadowPixels[MAP_SIDE_CELLS * MAP_SIDE_CELLS * SHADOW_CHANNELS];
png_bytep s_shadowRows[MAP_SIDE_CELLS];

void user_flush_data(png_structp) {}

std::string EncodedImage() {
    return std::string(reinterpret_cast<const char*>(g_PNGData), static_cast<size_t>(g_PNGDataLen));
}

}  // namespace

// ---------------------------------------------------------------- the image

void user_write_data(png_struct_def* png, unsigned char* data, size_t length) {
    (void)png;
    // The image must end below the buffer's size; checked before any byte is copied.
    if (length >= sizeof g_PNGData - static_cast<size_t>(g_PNGDataLen))
        FatalAssert("g_PNGDataLen < sizeof g_PNGData", __FILE__, __LINE__, __PRETTY_FUNCTION__);
    memcpy(g_PNGData + g_PNGDataLen, data, length);
    g_PNGDataLen += static_cast<int32_t>(length);
}

void EncodeShadowPng(const ShadowCells& cells) {
    png_structp png_out = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    HARD_ASSERT(png_out);
    png_infop info_out = png_create_info_struct(png_out);
    HARD_ASSERT(info_out);
    g_PNGDataLen = 0;
    png_set_write_fn(png_out, png_get_io_ptr(png_out), user_write_data, user_flush_data);
    png_set_compression_level(png_out, 9);

    memset(s_shadowPixels, 0, sizeof s_shadowPixels);
    for (int row = 0; row < MAP_SIDE_CELLS; ++row) {
        png_byte* line = s_shadowPixels + row * MAP_SIDE_CELLS * SHADOW_CHANNELS;
        // A cell explored by both players keeps the cleared, fully
        // transparent pixel.
        for (int col = 0; col < MAP_SIDE_CELLS; ++col)
            GetCellShade(cells.IsSeen(0, row, col), cells.IsSeen(1, row, col), line + col * SHADOW_CHANNELS);
        s_shadowRows[row] = line;
    }

    png_set_IHDR(png_out, info_out, MAP_SIDE_CELLS, MAP_SIDE_CELLS, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png_out, info_out);
    png_write_image(png_out, s_shadowRows);
    png_write_end(png_out, info_out);
    png_destroy_write_struct(&png_out, &info_out);
}

// ---------------------------------------------------------------- the encoder

ShadowEncoder::~ShadowEncoder() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bStop = true;
    }
    m_wake.notify_all();
    if (m_pThread) m_pThread->join();
}

bool ShadowEncoder::Start() {
    if (m_pThread) return true;
    if (m_bNoThread) return false;
    if (Platform::StartThread(m_pThread, [this] { ThreadMain(); })) return true;
    m_bNoThread = true;
    LOG_DBG("Start image encoder thread err:%s\n", Platform::ErrorText(Platform::LastError()).c_str());
    return false;
}

int ShadowEncoder::Submit(const ShadowCells& cells) {
    if (!Start()) return EncodeNow(cells);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queue.push_back(cells);
    m_wake.notify_one();
    return m_iSubmitted++;
}

int ShadowEncoder::EncodeNow(const ShadowCells& cells) {
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_doneCond.wait(lock, [this] { return m_iDone == m_iSubmitted; });
    }
    EncodeShadowPng(cells);
    std::string image = EncodedImage();
    std::lock_guard<std::mutex> lock(m_mutex);
    const int number = m_iSubmitted++;
    m_images[number] = std::move(image);
    m_iDone = m_iSubmitted;
    return number;
}

bool ShadowEncoder::IsDone(int image) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return image < m_iDone;
}

const std::string& ShadowEncoder::Image(int image) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_doneCond.wait(lock, [this, image] { return image < m_iDone; });
    return m_images[image];
}

void ShadowEncoder::Drop(int first) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_images.erase(m_images.begin(), m_images.lower_bound(first));
}

void ShadowEncoder::ThreadMain() {
    // Started by the game thread, whose short time slices do not suit
    // work that can wait.
    Platform::SetTimeSlices(Platform::TimeSlices::DEFAULT);
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_bStop || !m_queue.empty(); });
        if (m_bStop) return;
        const ShadowCells cells = m_queue.front();
        lock.unlock();
        EncodeShadowPng(cells);
        std::string image = EncodedImage();
        lock.lock();
        m_queue.pop_front();
        m_images[m_iDone] = std::move(image);
        ++m_iDone;
        m_doneCond.notify_all();
    }
}

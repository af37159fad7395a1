// The explored-cells image: both players' explored cells as one small PNG
// (a pixel a cell, in the shade of GetCellShade), and the encoder that
// keeps its level-9 compression away from the frame loop on a thread of
// its own.
//
// The encoder's guarantee: images are numbered from 0 in the order they
// are given to it (Submit or EncodeNow), and each leaves it (Image) under
// its number, in that order, whichever thread encoded it; so the frames
// that show them keep their order too.  Where its thread cannot be started,
// the encoder says so for good (Start is false) and encodes every image on
// the caller's thread: the same images in the same order, only the caller
// waits for each compression.
//
// Threads: g_PNGData and g_PNGDataLen belong to one encoding at a time:
// that of the encoder's thread while it has images to encode, else that of
// the caller of EncodeNow, which first waits until the thread has none.
// ShadowEncoder's methods are called by one thread (the game thread, or a
// test); its own thread sees only the copies of the cells it was handed,
// and gives back bytes under its mutex.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "Game.h"

// The explored-cells image being encoded or encoded last (PNG bytes) and
// its length; 0 until the first image.
extern uint8_t g_PNGData[1048576];
extern int32_t g_PNGDataLen;

// libpng's write callback: appends to g_PNGData; stops the program rather
// than write past the buffer.
struct png_struct_def;
void user_write_data(png_struct_def* png, unsigned char* data, size_t length);

// Both players' explored cells as bits, in the layout ExploredCells keeps them.
struct ShadowCells {
    uint64_t bits[PLAYER_NUMS][MAP_SIDE_CELLS][2];
    bool IsSeen(int player, int row, int col) const { return ((bits[player][row][col / 64] >> (col % 64)) & 1) != 0; }
};

// Encodes the image of the cells into g_PNGData and g_PNGDataLen.
void EncodeShadowPng(const ShadowCells& cells);

class ShadowEncoder {
public:
    // Ends the thread, once it has encoded the image it is at.
    ~ShadowEncoder();

    // Starts the thread on first use; false, for good, when the system gives
    // none.
    bool Start();
    // Hands the cells over to the thread, or encodes them now where it
    // cannot be started; the number of their image.
    int Submit(const ShadowCells& cells);
    // Encodes the cells on the caller's thread, once every image handed over
    // is encoded; the number of their image.
    int EncodeNow(const ShadowCells& cells);

    bool IsDone(int image);
    // The bytes of an image, waiting for its encoding if need be.
    const std::string& Image(int image);
    // Forgets the images before the one given.
    void Drop(int first);

private:
    void ThreadMain();

    std::mutex m_mutex;
    std::condition_variable m_wake;      // an image to encode, or the end
    std::condition_variable m_doneCond;  // an image is encoded
    std::deque<ShadowCells> m_queue;     // handed over, the first being encoded
    std::map<int, std::string> m_images;
    int m_iSubmitted = 0;
    int m_iDone = 0;  // images 0 to m_iDone - 1 are encoded
    bool m_bStop = false;
    bool m_bNoThread = false;  // the caller's thread only
    std::unique_ptr<std::thread> m_pThread;
};

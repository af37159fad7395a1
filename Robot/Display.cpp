#include "Display.h"

Display* Display::GetInstance() {
    static Display s_display;
    return &s_display;
}

bool Display::Init(int, char**) { return true; }

void Display::Run(void (*entry)()) {
    // Without a window the main thread only keeps the process alive: the game
    // thread ends the process when the match is over.
    m_pGameThread = std::make_unique<std::thread>(entry);
    m_pGameThread->join();
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

// Workbenches, the product table and production.
//
// Threads: built on the main thread at start-up; afterwards used by the game
// thread only (production step, trading, frame message, recording).
#pragma once

#include <box2d/box2d.h>

#include <cstdint>
#include <vector>

// The per-workbench record shared by the frame message, the replay and the display.
struct WorkbenchInfo {
    float x;
    float y;
    int32_t type;
    int32_t remain;
    uint32_t needMask;
    uint32_t haveMask;
    int32_t ready;
    float progress;
};

struct Workbench {
    Workbench(int type, b2Vec2 pos);
    int32_t m_id;
    b2Vec2 m_pos;
};

class WorkbenchList {
public:
    void Add(const Workbench& workbench) { m_list.push_back(workbench); }
    void Step();
    std::vector<WorkbenchInfo> CollectInfo() const;

private:
    std::vector<Workbench> m_list;
};

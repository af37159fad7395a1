#include "Workbench.h"

Workbench::Workbench(int type, b2Vec2 pos) : m_id(type), m_pos(pos) {}

void WorkbenchList::Step() {}

std::vector<WorkbenchInfo> WorkbenchList::CollectInfo() const { return {}; }

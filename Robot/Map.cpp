#include "Map.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

double PI = acos(-1.0);

void ShouldBeTrue(bool condition, const char* message) {
    if (condition) return;
    fprintf(stderr, "%s\n", message);
    fflush(stderr);
    abort();
}

bool Map::Load(const std::string&) {
    m_mapData.assign(MAP_FILE_ROW_NUMS, std::vector<char>(100, '.'));
    return Load(m_mapData);
}

bool Map::Load(std::vector<std::vector<char>>& rows) {
    if (&rows != &m_mapData) m_mapData = rows;
    return true;
}

b2Vec2 Map::GetCellCentre(int row, int col) const {
    const int height = static_cast<int>(m_mapData.size());
    const int width = static_cast<int>(m_mapData[0].size());
    return b2Vec2(static_cast<float>(static_cast<double>(50.0f / width) * (col + 0.5)),
                  static_cast<float>(static_cast<double>(50.0f / height) * ((height - row) - 0.5)));
}

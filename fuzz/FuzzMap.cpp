// Fuzz target: the map loader, both ways in.
//
// Every input is loaded twice, each time into a fresh Map: once as a map
// file (the input written byte for byte to a temporary file, read through
// Map::Load(path)), once as rows (Map::Load(rows)): the input's lines, split
// at LF, each cut or filled up with '.' to 100 characters, the rows cut or
// filled up with rows of '.' to 100, which is the only shape the rows form
// accepts from its callers.  A valid map file thus loads the same both ways.
//
// Threads: libFuzzer's one thread.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Map.h"

namespace {

constexpr int MAP_COL_NUMS = MAP_SIDE_CELLS;  // characters of a row

// The temporary map file, made once per process and removed at its end.
class TempFile {
public:
    TempFile() {
        const char* dir = getenv("TMPDIR");
        m_path = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/zv_fuzz_map_XXXXXX";
        const int fd = mkstemp(&m_path[0]);
        if (fd < 0) {
            perror("fuzz_map: mkstemp");
            abort();
        }
        close(fd);
    }
    ~TempFile() { unlink(m_path.c_str()); }

    const std::string& Write(const uint8_t* data, size_t size) const {
        FILE* file = fopen(m_path.c_str(), "wb");
        if (file == nullptr || fwrite(data, 1, size, file) != size || fclose(file) != 0) {
            perror("fuzz_map: writing the map file");
            abort();
        }
        return m_path;
    }

private:
    std::string m_path;
};

std::vector<std::vector<char>> RowsFromInput(const uint8_t* data, size_t size) {
    std::vector<std::vector<char>> rows(MAP_FILE_ROW_NUMS, std::vector<char>(MAP_COL_NUMS, '.'));
    size_t pos = 0;
    for (int r = 0; r < MAP_FILE_ROW_NUMS && pos < size; ++r) {
        const uint8_t* lineEnd = static_cast<const uint8_t*>(memchr(data + pos, '\n', size - pos));
        const size_t end = lineEnd != nullptr ? static_cast<size_t>(lineEnd - data) : size;
        std::copy(data + pos, data + std::min(end, pos + MAP_COL_NUMS), rows[r].begin());
        pos = end + 1;
    }
    return rows;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const TempFile s_file;
    {
        Map map;
        map.Load(s_file.Write(data, size));
    }
    {
        Map map;
        std::vector<std::vector<char>> rows = RowsFromInput(data, size);
        map.Load(rows);
    }
    return 0;
}

// Plays like idle and, at frame argv[2] (default 50), writes to the file
// argv[1] one line per thread of its parent (the referee): "tid policy nice",
// read from /proc/<parent>/task/<tid>/stat.
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../players/PlayerIO.h"

namespace {

// The scheduling policy and nice value in a stat line: fields 41 and 19,
// counted after the command name in parentheses, which may hold blanks.
bool ReadThread(const std::string& statPath, int& policy, int& nice) {
    FILE* file = fopen(statPath.c_str(), "r");
    if (!file) return false;
    char line[4096];
    const bool got = fgets(line, sizeof line, file) != nullptr;
    fclose(file);
    const char* rest = got ? strrchr(line, ')') : nullptr;
    if (!rest) return false;
    int field = 2;
    for (char* token = strtok(const_cast<char*>(rest + 1), " "); token; token = strtok(nullptr, " ")) {
        ++field;
        if (field == 19) nice = atoi(token);
        if (field == 41) policy = atoi(token);
    }
    return field >= 41;
}

void Report(const char* path) {
    const std::string tasks = "/proc/" + std::to_string(getppid()) + "/task";
    FILE* out = fopen(path, "w");
    DIR* dir = opendir(tasks.c_str());
    if (!out || !dir) return;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        int policy = -1;
        int nice = 0;
        if (ReadThread(tasks + "/" + entry->d_name + "/stat", policy, nice))
            fprintf(out, "%s %d %d\n", entry->d_name, policy, nice);
    }
    closedir(dir);
    fclose(out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const char* path = argv[1];
    const int reportFrame = argc > 2 ? atoi(argv[2]) : 50;
    return playerio::ServeFrameNumbers([path, reportFrame](int frame, playerio::Answer&) {
        if (frame == reportFrame) Report(path);
    });
}

// Stands between the referee and a player program and counts what the
// referee sends it:  zvmsgcount <report file> <program> [args...]
// The program's output goes straight back to the referee; its input is
// passed through.  When the input ends (or the referee kills the player and
// the report is written on every frame) the report holds
// "bytes B messages M" for the frame messages (the start text left out).
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

void Report(const char* path, unsigned long long bytes, unsigned long long messages) {
    FILE* out = fopen(path, "w");
    if (!out) return;
    fprintf(out, "bytes %llu messages %llu\n", bytes, messages);
    fclose(out);
}

bool WriteAll(int fd, const char* data, size_t len) {
    while (len > 0) {
        ssize_t n = write(fd, data, len);
        if (n <= 0) return false;
        data += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: %s <report> <program> [args...]\n", argv[0]);
        return 2;
    }
    int toChild[2];
    if (pipe(toChild) != 0) return 1;
    pid_t child = fork();
    if (child < 0) return 1;
    if (child == 0) {
        dup2(toChild[0], 0);
        close(toChild[0]);
        close(toChild[1]);
        execvp(argv[2], argv + 2);
        _exit(127);
    }
    close(toChild[0]);
    // The start text ends at its first "OK\n"; every later "OK\n" line ends a frame message.
    unsigned long long bytes = 0, messages = 0, startBytes = 0;
    bool started = false;
    std::string tail;  // the last two bytes seen, to find "OK\n" across reads
    char buf[65536];
    for (;;) {
        ssize_t n = read(0, buf, sizeof buf);
        if (n <= 0) break;
        if (!WriteAll(toChild[1], buf, static_cast<size_t>(n))) break;
        for (ssize_t i = 0; i < n; ++i) {
            tail.push_back(buf[i]);
            if (tail.size() > 3) tail.erase(0, 1);
            ++bytes;
            if (tail == "OK\n") {
                if (!started) {
                    started = true;
                    startBytes = bytes;
                } else {
                    ++messages;
                    Report(argv[1], bytes - startBytes, messages);
                }
            }
        }
    }
    close(toChild[1]);
    int status = 0;
    waitpid(child, &status, 0);
    return 0;
}

// Copies standard input to standard output until end of input.
//   -a      announce: "pipe_echo: started" and, at end of input,
//           "pipe_echo: end of input" on standard error
//   -d US   sleep US microseconds before each read (a slow reader)
//   -n N    stop after N bytes and exit (closing both pipes)
//   -s      sink: read but write nothing back
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

static bool WriteAll(const char* p, size_t n) {
    while (n > 0) {
        ssize_t w = write(1, p, n);
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

int main(int argc, char** argv) {
    bool announce = false;
    long delayUs = 0;
    long long limit = -1;
    bool sink = false;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "-a") == 0) announce = true;
        else if (strcmp(argv[i], "-d") == 0 && i + 1 < argc) delayUs = atol(argv[++i]);
        else if (strcmp(argv[i], "-n") == 0 && i + 1 < argc) limit = atoll(argv[++i]);
        else if (strcmp(argv[i], "-s") == 0) sink = true;
    }
    if (announce) fprintf(stderr, "pipe_echo: started\n");
    char buf[4096];
    long long total = 0;
    while (limit < 0 || total < limit) {
        if (delayUs > 0) usleep(static_cast<useconds_t>(delayUs));
        size_t want = sizeof buf;
        if (limit >= 0 && static_cast<long long>(want) > limit - total) want = static_cast<size_t>(limit - total);
        ssize_t n = read(0, buf, want);
        if (n <= 0) break;
        total += n;
        if (!sink && !WriteAll(buf, static_cast<size_t>(n))) return 1;
    }
    if (announce) fprintf(stderr, "pipe_echo: end of input\n");
    return 0;
}

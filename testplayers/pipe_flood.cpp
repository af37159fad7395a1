// Writes N bytes of a known pattern to standard output (byte i is
// (i * 7 + i / 4093) & 0xFF), then waits for the end of its input.
#include <unistd.h>

#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    long long n = argc > 1 ? atoll(argv[1]) : 0;
    std::vector<char> data(static_cast<size_t>(n));
    for (long long i = 0; i < n; ++i) data[static_cast<size_t>(i)] = static_cast<char>((i * 7 + i / 4093) & 0xFF);
    size_t done = 0;
    while (done < data.size()) {
        ssize_t w = write(1, data.data() + done, data.size() - done);
        if (w <= 0) return 1;
        done += static_cast<size_t>(w);
    }
    char c;
    while (read(0, &c, 1) > 0) {
    }
    return 0;
}

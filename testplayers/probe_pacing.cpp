// Answers every frame at once and measures when the frame messages arrive.
// After the number of frames given as argv[1] (default 1000) it writes the
// achieved frame rate and the spread of the arrival gaps to standard error
// and exits, which ends the match.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
    const int frames = argc > 1 ? atoi(argv[1]) : 1000;
    std::vector<double> arrivals;
    char line[65536];
    bool started = false;
    int frame = 0;
    bool inFrame = false;
    while (fgets(line, sizeof line, stdin)) {
        if (strncmp(line, "OK", 2) == 0) {
            if (!started) {
                started = true;
                printf("OK\n");
            } else {
                printf("%d\nOK\n", frame);
            }
            fflush(stdout);
            inFrame = false;
            continue;
        }
        if (started && !inFrame) {
            inFrame = true;
            frame = atoi(line);
            auto now = std::chrono::steady_clock::now().time_since_epoch();
            arrivals.push_back(std::chrono::duration<double, std::milli>(now).count());
            if (static_cast<int>(arrivals.size()) > frames) break;
        }
    }
    if (arrivals.size() < 2) return 1;
    std::vector<double> gaps;
    for (size_t i = 1; i < arrivals.size(); ++i) gaps.push_back(arrivals[i] - arrivals[i - 1]);
    double total = arrivals.back() - arrivals.front();
    double mean = total / gaps.size();
    double var = 0;
    for (double g : gaps) var += (g - mean) * (g - mean);
    std::sort(gaps.begin(), gaps.end());
    fprintf(stderr, "frames %zu  rate %.3f fps  gap mean %.3f ms  sd %.3f ms  min %.3f  p50 %.3f  p99 %.3f  max %.3f\n",
            gaps.size(), gaps.size() / (total / 1000.0), mean, std::sqrt(var / gaps.size()), gaps.front(),
            gaps[gaps.size() / 2], gaps[gaps.size() * 99 / 100], gaps.back());
    return 0;
}

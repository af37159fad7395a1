// Drives like circler, as a player that thinks: before each answer it burns
// argv[1] microseconds of its own processor time (default 0: answers at
// once), measured on the thread's processor clock, so that time it waits for
// a processor does not count.  After argv[2] frames (default 0: never) it
// leaves without answering the next one, which ends the match.
#include <time.h>

#include <cstdint>
#include <cstdlib>

#include "../players/Circling.h"

namespace {

int64_t ThreadCpuNs() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void Think(int64_t ns) {
    const int64_t end = ThreadCpuNs() + ns;
    while (ThreadCpuNs() < end) {
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int64_t thinkNs = (argc > 1 ? atoll(argv[1]) : 0) * 1000;
    const int lastFrame = argc > 2 ? atoi(argv[2]) : 0;
    playerio::LineReader in;
    if (playerio::ReadStart(in) < 0 || !playerio::WriteAll("OK\n")) return 0;
    playerio::Answer answer;
    int frame = 0;
    int answered = 0;
    while (playerio::ReadFrameNumber(in, frame)) {
        if (lastFrame > 0 && answered >= lastFrame) return 0;
        Think(thinkNs);
        answer.Begin(frame);
        playerio::AddCirclingCommands(frame, answer);
        if (!answer.Send()) return 0;
        ++answered;
    }
    return 0;
}

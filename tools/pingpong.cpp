// A fast match's pattern reduced to its bones: a parent and two children
// pass one byte back and forth through pipes, as fast as they can.  Each
// round the parent writes a byte to each child, and each child answers with
// a byte; every read blocks.
//   zvpingpong <seconds>
// Stops after that many seconds (the children when their input ends) and
// prints "rounds N".
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

struct Child {
    int toChild = -1;
    int fromChild = -1;
};

bool PutByte(int fd) {
    char c = 'x';
    return write(fd, &c, 1) == 1;
}

bool GetByte(int fd) {
    char c;
    return read(fd, &c, 1) == 1;
}

// The child's life: answers every byte until its input ends.
[[noreturn]] void Answer(int in, int out) {
    while (GetByte(in) && PutByte(out)) {
    }
    _exit(0);
}

// Starts a child; false when the pipes or the process cannot be made.
bool StartChild(Child& child) {
    int down[2], up[2];
    if (pipe(down) != 0) return false;
    if (pipe(up) != 0) return false;
    pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        close(down[1]);
        close(up[0]);
        Answer(down[0], up[1]);
    }
    close(down[0]);
    close(up[1]);
    child.toChild = down[1];
    child.fromChild = up[0];
    return true;
}

int64_t NowNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s <seconds>\n", argv[0]);
        return 2;
    }
    const int64_t end = NowNs() + static_cast<int64_t>(atof(argv[1]) * 1e9);
    Child children[2];
    for (Child& child : children) {
        if (!StartChild(child)) {
            perror("zvpingpong");
            return 1;
        }
    }
    long long rounds = 0;
    bool ok = true;
    while (ok && NowNs() < end) {
        for (Child& child : children) ok = ok && PutByte(child.toChild);
        for (Child& child : children) ok = ok && GetByte(child.fromChild);
        ++rounds;
    }
    for (Child& child : children) close(child.toChild);
    while (wait(nullptr) > 0) {
    }
    printf("rounds %lld\n", rounds);
    return ok ? 0 : 1;
}

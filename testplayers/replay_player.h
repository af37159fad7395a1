// The protocol loop of the replay tests' players: answers the start text with
// "OK" and every frame message with its frame number, the commands that
// writeCommands prints for that frame, and "OK".  The answer to frame
// lastFrame (when > 0) is malformed (no frame number), which ends the match
// there with an output format error; it comes lateMs late, so that the other
// player's answer to that frame has been read by then and the last recorded
// frame is the same in every run.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

inline int RunReplayPlayer(int lastFrame, int lateMs, void (*writeCommands)(int frame)) {
    char* line = nullptr;
    size_t cap = 0;
    bool started = false;
    bool inFrame = false;
    int frame = 0;
    while (getline(&line, &cap, stdin) > 0) {
        if (strncmp(line, "OK", 2) == 0) {
            if (!started) {
                started = true;
                printf("OK\n");
            } else if (lastFrame > 0 && frame >= lastFrame) {
                usleep(static_cast<useconds_t>(lateMs) * 1000);
                printf("end\nOK\n");
            } else {
                printf("%d\n", frame);
                writeCommands(frame);
                printf("OK\n");
            }
            fflush(stdout);
            inFrame = false;
            continue;
        }
        if (started && !inFrame) {
            inFrame = true;
            frame = atoi(line);
        }
    }
    free(line);
    return 0;
}

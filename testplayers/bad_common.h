// Shared pieces of the misbehaving test players: arguments, sleeping, the
// start handshake and the well-formed answer they build their faults on.
#pragma once

#include <time.h>

#include <cstdlib>

#include "../players/PlayerIO.h"

namespace badplayer {

// argv[index] as a whole number, or the fallback when it is missing.
inline int ArgInt(int argc, char** argv, int index, int fallback) {
    return argc > index ? atoi(argv[index]) : fallback;
}

inline void SleepMs(int ms) {
    timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0) {
    }
}

// Reads the start text and answers it; false when the input ended first or
// the output is gone.
inline bool Handshake(playerio::LineReader& in) {
    return playerio::ReadStart(in) >= 0 && playerio::WriteAll("OK\n");
}

// The answer of a player that sends no command.
inline bool SendEmptyAnswer(int frame) {
    playerio::Answer answer;
    answer.Begin(frame);
    return answer.Send();
}

// Reads and drops everything until the input ends.
inline void DrainInput(playerio::LineReader& in) {
    const char* text;
    size_t len;
    while (in.ReadLine(text, len)) {
    }
}

// Answers every frame message after a delay, until the input ends.
inline int AnswerLate(int argc, char** argv, int defaultMs) {
    int delayMs = ArgInt(argc, argv, 1, defaultMs);
    playerio::LineReader in;
    if (!Handshake(in)) return 0;
    int frame = 0;
    while (playerio::ReadFrameNumber(in, frame)) {
        SleepMs(delayMs);
        if (!SendEmptyAnswer(frame)) return 0;
    }
    return 0;
}

}  // namespace badplayer

// Answers every frame message late: after argv[1] milliseconds (default 30),
// past the frame's answer window.
#include "bad_common.h"

int main(int argc, char** argv) { return badplayer::AnswerLate(argc, argv, 30); }

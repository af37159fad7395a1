// Answers every frame message just past the answer window: after argv[1]
// milliseconds (default 20).
#include "bad_common.h"

int main(int argc, char** argv) { return badplayer::AnswerLate(argc, argv, 20); }

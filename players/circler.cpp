// A player that drives its robots in circles and never trades.
#include "Circling.h"

int main() { return playerio::ServeFrameNumbers(playerio::AddCirclingCommands); }

#include "Game.h"

int main(int argc, char** argv) { return Game::GetInstance()->Run(argc, argv); }

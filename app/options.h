// The game's command line: --help, --version and the results table (--scores)
// answer and end the process; without arguments the game plays as it always has.
#pragma once

// What handleOptions returns when the arguments ask for a game.
inline constexpr int kPlayGame = -1;

// Answers --help, --version or --scores, or refuses any other argument with one line on
// stderr; returns the exit status, or kPlayGame when there is no argument.
int handleOptions(int argc, char** argv);

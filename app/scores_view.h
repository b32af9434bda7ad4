// The results table (prozorometr --scores): the players of the current folder's
// score file, ranked, in Windows-1251 like the game's own screens. It only reads:
// no lock, no temporary file, nothing written.
#pragma once

#include <cstddef>

// Prints the best limit players (all when limit is 0). Returns the exit status:
// 0 when the table was printed, 1 when the score file could not be read or the
// table not written, with one line on stderr saying why.
int showScores(std::size_t limit);

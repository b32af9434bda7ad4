// Random choice of questions without repetition within a run: the intellect test
// draws from records 26 onward, the character test from records 1 to 25.
#pragma once

#include <cstdint>

// Seeds the generator from the clock, in whole seconds.
void randomize();

// 0 for n == 0 (no draw); otherwise a draw modulo |n|, from 0 to |n| - 1.
std::int32_t randomBelow(std::int32_t n);

// Choose an unasked record, note it as asked and load it with its key.
// Return false when the database cannot be read (a reason went to stderr).
bool pickIntellectQuestion();
bool pickCharacterQuestion();

// The two tests: 25 intellect questions judged right or wrong, then 10 character
// questions whose answers count for one of four categories. Each answer is one
// line of input, of which only the first byte counts.
#pragma once

#include <cstdint>

// The value runIntellectTest returns when a question could not be loaded.
inline constexpr std::int32_t kTestAborted = -1;

// Plays test 1; returns the right answers (0..25), or kTestAborted.
std::int32_t runIntellectTest();
// Plays test 2, counting into categoryTally; returns false when a question
// could not be loaded.
bool runCharacterTest();
// Prints the screen of the question now loaded.
void showQuestion(std::int32_t questionNumber);
// Adds an answer byte to the category tally the loaded key gives it, if any.
void countCharacterAnswer(int answerChar);

// The blind rules a guesser could answer by without reading the question: an
// answer position, or the answer that stands out alone by its length, its
// number of words, its likeness to the other three or its value among four
// numbers. Each rule picks one answer (two for the middle values), or none
// where no answer stands out alone.
#pragma once

#include <cstdint>

#include "core/run_state.h"

enum CueRule : int {
    kPosition1, kPosition2, kPosition3, kPosition4,
    kLongest, kShortest, kMostWords, kFewestWords, kMostAlike, kMostUnlike, kOddLength,
    kSmallest, kLargest, kMiddleValues,
    kCueRuleCount
};

// How the warnings and the summary speak of a rule.
struct CueRuleText {
    const char* name;      // in the summary: "longest"
    const char* standing;  // "the right answer is <standing>": "the longest"
    const char* among;     // the questions the rule decides: "with one longest answer"
    int picked;            // answers it picks where it decides; chance is picked / 4
    bool reorder;          // reordering the answers mends it; otherwise they need rewriting
};
extern const CueRuleText kCueRules[kCueRuleCount];

// Per rule, the answers it picks as bits (bit 0 is answer 1); 0 where it does
// not decide.
using CuePicks = std::uint8_t[kCueRuleCount];

// A measure of each of the four answers: characters, words, likeness.
using AnswerMeasures = double[kAnswerCount];

// The bit of the one answer whose measure is strictly the largest (or, when
// not most, the smallest), or 0 when two share it.
std::uint8_t standsOutAlone(const AnswerMeasures& measures, bool most);

// The answers' lengths in characters (bytes in Windows-1251).
void measureLengths(const CurrentQuestion& question, AnswerMeasures& lengths);

// What every rule picks among the four answers of a question.
void pickByCueRules(const CurrentQuestion& question, CuePicks& picks);

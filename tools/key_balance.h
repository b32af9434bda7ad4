// Balance of the answer keys over a whole database: warnings about patterns a
// player could learn instead of the answers, such as one answer position that is
// right too often, long runs of one key, a right answer given away by its length
// or a right value by where it stands among numeric answers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/run_state.h"
#include "tools/check.h"
#include "tools/numeric_answers.h"

// Below this many intellect questions the shares of keys, of longest right
// answers and of numeric right values swing by chance (one question is 1% at
// 100), so they are not judged.
inline constexpr long kMinIntellectForShares = 100;
inline constexpr int kMinKeySharePercent = 22;  // each answer position right for 22%..28%
inline constexpr int kMaxKeySharePercent = 28;
inline constexpr long kMaxKeyRun = 4;  // equal intellect keys in a row
// Of the questions whose answers have one longest, that one is right in 20%..30%:
// chance is 25%, and either way out of the band length points to an answer.
inline constexpr int kMinLongestRightPercent = 20;
inline constexpr int kMaxLongestRightPercent = 30;
// Of the questions with four numeric answers, the right value is the smallest or
// the largest in at least 40%, and each of the two in at least 15%; below that
// a middle value is the better bet.
inline constexpr int kMinNumericEndsPercent = 40;
inline constexpr int kMinNumericEndPercent = 15;
inline constexpr int kMinCategoryAtPosition = 5;    // each character category at each answer
inline constexpr int kMaxCategoryAtPosition = 8;    // position 5..8 times of 25
inline constexpr int kMaxShortestOfCategory = 10;   // a category's answer shortest at most 10 times

// The character categories 1..4 as the warnings name them.
inline constexpr const char* kCategoryNames[kCategoryCount + 1] = {"", "prudent", "ordinary", "eccentric",
                                                                 "reckless"};

// Answer lengths in bytes, which in Windows-1251 are characters.
using AnswerLengths = std::size_t[kAnswerCount];

struct KeyRun {
    std::int32_t key = 0;
    long length = 0;
    long firstRecord = 0;
    long firstLine = 0;
};

struct KeyBalance {
    long intellectRecords = 0;
    int keyCount[kAnswerCount + 1] = {};
    long oneLongest = 0;    // one answer strictly longer than the other three
    long rightLongest = 0;  // ... and it is the right one
    long numericRecords = 0;  // four numeric answers with four different values
    long rightSmallest = 0;
    long rightLargest = 0;
    KeyRun run = {};
    long characterRecords = 0;
    int categoryAtPosition[kCategoryCount + 1][kAnswerCount] = {};
    int shortestOfCategory[kCategoryCount + 1] = {};  // strictly shorter than the other three
};

// Counts one intellect record with a valid key (1..4), given the lengths of its
// answers and where its right value stands; warns at the first key line of a run
// of equal keys once the run is over and proves too long.
void tallyIntellectKey(KeyBalance& balance, FileReport& report, long record, long keyLine, std::int32_t key,
                       const AnswerLengths& lengths, ValueRank rank);

// Counts one character record whose key gives a category 1..4 for every answer.
void tallyCharacterKey(KeyBalance& balance, const std::int32_t (&categories)[kAnswerCount],
                       const AnswerLengths& lengths);

// File-level warnings on the shares (intellect from kMinIntellectForShares
// questions on; character only when all 25 character keys were counted), and
// the warning on a run still open at the end.
void reportKeyBalance(KeyBalance& balance, FileReport& report);

// Adds the figures behind these warnings to the summary: the key spread, how
// often the one longest answer is right, and how often the right numeric value
// is the smallest or the largest.
void summarizeKeyBalance(const KeyBalance& balance, FileReport& report);

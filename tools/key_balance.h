// Balance of the answer keys over a whole database: warnings about patterns a
// player could learn instead of the answers that are not shares of a blind rule
// (cue_tests.h judges those): long runs of one intellect key, and character
// categories that keep one place or one length among the answers.
#pragma once

#include <cstdint>

#include "core/run_state.h"
#include "tools/check.h"

inline constexpr long kMaxKeyRun = 4;  // equal intellect keys in a row
inline constexpr int kMinCategoryAtPosition = 5;    // each character category at each answer
inline constexpr int kMaxCategoryAtPosition = 8;    // position 5..8 times of 25
inline constexpr int kMaxShortestOfCategory = 10;   // a category's answer shortest at most 10 times

// The character categories 1..4 as the warnings name them.
inline constexpr const char* kCategoryNames[kCategoryCount + 1] = {"", "prudent", "ordinary", "eccentric",
                                                                 "reckless"};

struct KeyRun {
    std::int32_t key = 0;
    long length = 0;
    long firstRecord = 0;
    long firstLine = 0;
};

struct KeyBalance {
    long intellectRecords = 0;
    int keyCount[kAnswerCount + 1] = {};
    KeyRun run = {};
    long characterRecords = 0;
    int categoryAtPosition[kCategoryCount + 1][kAnswerCount] = {};
    int shortestOfCategory[kCategoryCount + 1] = {};  // strictly shorter than the other three
};

// Counts one intellect record with a valid key (1..4); warns at the first key
// line of a run of equal keys once the run is over and proves too long.
void tallyIntellectKey(KeyBalance& balance, FileReport& report, long record, long keyLine, std::int32_t key);

// Counts one character record whose key gives a category 1..4 for every answer.
void tallyCharacterKey(KeyBalance& balance, const std::int32_t (&categories)[kAnswerCount],
                       const CurrentQuestion& question);

// File-level warnings on the character shares (only when all 25 character keys
// were counted), and the warning on a run still open at the end.
void reportKeyBalance(KeyBalance& balance, FileReport& report);

// Adds the intellect key spread to the summary.
void summarizeKeyBalance(const KeyBalance& balance, FileReport& report);

// Judging the blind rules by evidence rather than by a file's size: for every
// rule, over the whole file and over each group the topics file names, how
// often the answer it picks is the right one, tested against chance each way by
// an exact binomial test. So that a fair file is seldom warned however many
// tests are made, the bound is 1% shared among the tests that could reach it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/answer_cues.h"
#include "tools/check.h"
#include "tools/topics.h"

// The chance a fair file gets warned at all: the bound shared among the tests.
inline constexpr double kCueFalseAlarm = 0.01;

struct CueQuestion {
    CuePicks picks;
    std::int32_t key;    // 1..4
    long intellectIndex;  // from 0: the line of the topics file
};

struct CueTally {
    std::vector<CueQuestion> questions = {};
    std::vector<std::string> summary = {};  // the figures, once reported
};

// Counts one intellect question the game can ask, with a valid key.
void tallyCues(CueTally& tally, const CurrentQuestion& question, std::int32_t key, long intellectIndex);

// Warns about every rule whose figures depart from chance beyond the bound,
// over the file and, when topics is given and matches, each of its groups.
void reportCues(CueTally& tally, const TopicList* topics, FileReport& report);

// Adds the figures over the whole file and the bound to the summary.
void summarizeCues(const CueTally& tally, FileReport& report);

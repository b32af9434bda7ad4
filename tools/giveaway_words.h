// Words and marks that give a character category away: a word stem or a mark
// that stands in several answers of one category and in no other category's
// lets a player steer the verdict without weighing the answers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/run_state.h"
#include "tools/check.h"

inline constexpr std::size_t kMinStemWordLetters = 4;  // shorter words are left out
inline constexpr std::size_t kStemLetters = 5;         // a stem is a word's first five letters
inline constexpr std::size_t kMinGiveawayAnswers = 3;  // answers of one category that make a pattern

// For one stem or mark, the lines of the answers it stands in, by category.
using CategoryLines = std::array<std::vector<long>, kCategoryCount + 1>;

struct GiveawayTally {
    long characterRecords = 0;
    std::map<std::string, CategoryLines> linesByToken = {};  // stems in lower case, ё as е
};

// Counts the stems and marks of the four answers of one character record whose
// key gives a category 1..4 for every answer; answer 1 is on firstAnswerLine.
void tallyAnswerWords(GiveawayTally& tally, const CurrentQuestion& question,
                      const std::int32_t (&categories)[kAnswerCount], long firstAnswerLine);

// Warns about every stem and mark of one category only, when all 25 character
// records were counted.
void reportGiveaways(const GiveawayTally& tally, FileReport& report);

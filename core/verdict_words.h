// The words a profile's labels hold: the intellect levels by average of right
// answers per run, the character of each category, and the fresh profile's word.
// Defined once, for the verdict that gives them and the checker that knows them.
#pragma once

#include <cstdint>

#include "core/cp1251.h"
#include "core/run_state.h"

struct IntellectLevel {
    std::int32_t fromAverage;  // the lowest average that earns the word
    const char* word;
};

// Highest first; the last level takes every average below the others.
inline constexpr IntellectLevel kIntellectLevels[] = {
    {24, "гений"_cp}, {19, "образованный"_cp}, {14, "раздолбай"_cp}, {INT32_MIN, "ебанутый"_cp}};

// Indexed by category 1 to 4; slot 0 belongs to no category.
inline constexpr const char* kCharacterWords[kCategoryCount + 1] = {
    "", "еврей"_cp, "нормальный"_cp, "извращенец"_cp, "экстримал"_cp};

// Both labels of a profile that has no verdict yet.
inline constexpr const char* kUnknownWord = "неизвестно"_cp;

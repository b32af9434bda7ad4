// Reading a question's four answers as numbers ("52", "7,26 кг", "Около 340 м/с",
// "1/2", "8:25", "42 км 195 м"), to tell whether the right value stands at an end
// of the four or among the middle two, which a player could learn to bet on.
#pragma once

#include <cstdint>

#include "core/run_state.h"

enum class ValueRank { NotNumeric, Smallest, Middle, Largest };

// Where the value of the right answer (key 1..4) stands among the four. The
// answers count as numeric when each holds a number after the same leading
// words ("", "Около ", "На "...) and the four values differ; otherwise, and for
// a key outside 1..4, the result is NotNumeric. An answer with several numbers,
// such as "42 км 195 м" or "8:25", compares number by number.
ValueRank rankRightValue(const CurrentQuestion& question, std::int32_t key);

// Reading a question's four answers as numbers ("52", "7,26 кг", "Около 340 м/с",
// "1/2", "8:25", "42 км 195 м"), to tell which stands at an end of the four and
// which among the middle two, which a player could learn to bet on.
#pragma once

#include "core/run_state.h"

// The answers' positions (0..3) from the smallest value to the largest. The
// answers count as numeric when each holds a number after the same leading
// words ("", "Около ", "На "...) and the four values differ; otherwise the
// result is false. An answer with several numbers, such as "42 км 195 м" or
// "8:25", compares number by number.
bool orderAnswerValues(const CurrentQuestion& question, int (&ascending)[kAnswerCount]);

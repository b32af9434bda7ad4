// The verdict of a run: totals and the intellect label after test 1, the
// character label after test 2, and the final report with the exit prompt.
#pragma once

#include <cstdint>

// Adds this run to the totals and sets the intellect label from the average of
// right answers over all of the player's runs.
void scoreIntellect(std::int32_t rightCount);
// Sets the character label from the largest tally (lowest category on a tie);
// leaves it as it was when no answer counted.
void chooseCharacter();
void printReport(std::int32_t rightCount);

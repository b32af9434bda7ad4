// Exact binomial tail probabilities, kept as base-10 logarithms so that the
// evidence of a blatant cue in a thousand questions (far below 1e-308) is still
// a number that can be compared and printed.
#pragma once

#include <string>

// log10 of P(X >= hits) for X binomial with trials and chance (0 < chance < 1);
// 0 (certainty) when hits <= 0.
double upperTailLog10(long hits, long trials, double chance);

// log10 of P(X <= hits), the same way.
double lowerTailLog10(long hits, long trials, double chance);

// A probability given by its log10 as "2.0e-07".
std::string probabilityText(double log10Probability);

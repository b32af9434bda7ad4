// Binomial tails summed term by term in logarithms: each term follows from the
// one before by a ratio, and the sum is taken relative to its largest term, so
// that neither tiny terms nor huge binomial coefficients overflow.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "tools/binomial.h"

double upperTailLog10(long hits, long trials, double chance) {
    if (hits <= 0) return 0.0;
    if (hits > trials) return -INFINITY;
    double logTerm = std::lgamma(trials + 1.0) - std::lgamma(hits + 1.0) - std::lgamma(trials - hits + 1.0) +
                     hits * std::log(chance) + (trials - hits) * std::log1p(-chance);
    double logRatio = std::log(chance) - std::log1p(-chance);
    std::vector<double> logTerms;
    for (long k = hits;; ++k) {
        logTerms.push_back(logTerm);
        if (k == trials) break;
        logTerm += std::log(static_cast<double>(trials - k) / (k + 1)) + logRatio;
    }
    double largest = *std::max_element(logTerms.begin(), logTerms.end());
    double sum = 0.0;
    for (double term : logTerms) sum += std::exp(term - largest);
    return std::min(0.0, (largest + std::log(sum)) / std::log(10.0));
}

double lowerTailLog10(long hits, long trials, double chance) {
    return upperTailLog10(trials - hits, trials, 1.0 - chance);
}

std::string probabilityText(double log10Probability) {
    double exponent = std::floor(log10Probability);
    double mantissa = std::pow(10.0, log10Probability - exponent);
    if (mantissa >= 9.95) {
        mantissa /= 10.0;
        exponent += 1.0;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1fe%+03d", mantissa, static_cast<int>(exponent));
    return text;
}

// Warnings on the balance of answer keys: how often each position is right, runs
// of one intellect key, how often the one longest answer or the smallest or
// largest numeric value is right, and character categories that keep one place
// or one length among the answers.
#include <string>

#include "tools/key_balance.h"

namespace {

// The position (0..3) whose length is strictly below (or, when longest, above)
// every other, or -1 when two share the extreme.
int standOutPosition(const AnswerLengths& lengths, bool longest) {
    int found = 0;
    bool shared = false;
    for (int at = 1; at < kAnswerCount; ++at) {
        bool beyond = longest ? lengths[at] > lengths[found] : lengths[at] < lengths[found];
        if (beyond) {
            found = at;
            shared = false;
        } else if (lengths[at] == lengths[found]) {
            shared = true;
        }
    }
    return shared ? -1 : found;
}

void reportRunIfLong(const KeyRun& run, FileReport& report) {
    if (run.length <= kMaxKeyRun) return;
    diagnose(report, run.firstLine, Severity::Warning, "key run",
             "intellect key " + std::to_string(run.key) + " is right " + std::to_string(run.length) +
                 " times in a row (records " + std::to_string(run.firstRecord) + " to " +
                 std::to_string(run.firstRecord + run.length - 1) + "); keep runs to " + std::to_string(kMaxKeyRun));
}

bool withinPercent(long part, long whole, int minPercent, int maxPercent) {
    return 100 * part >= minPercent * whole && 100 * part <= maxPercent * whole;
}

void reportKeyShares(const KeyBalance& balance, FileReport& report) {
    long total = balance.intellectRecords;
    for (int key = 1; key <= kAnswerCount; ++key) {
        if (withinPercent(balance.keyCount[key], total, kMinKeySharePercent, kMaxKeySharePercent)) continue;
        diagnose(report, 0, Severity::Warning, "key spread",
                 "intellect key " + std::to_string(key) + " is right for " + std::to_string(balance.keyCount[key]) +
                     " of " + std::to_string(total) + " questions (" + percentOf(balance.keyCount[key], total) +
                     "); keep each position between " + std::to_string(kMinKeySharePercent) + "% and " +
                     std::to_string(kMaxKeySharePercent) + "%");
    }
}

void reportRightLongest(const KeyBalance& balance, FileReport& report) {
    long total = balance.oneLongest;
    if (total == 0 || withinPercent(balance.rightLongest, total, kMinLongestRightPercent, kMaxLongestRightPercent))
        return;
    diagnose(report, 0, Severity::Warning, "right answer longest",
             "of " + std::to_string(total) + " intellect questions with one longest answer, it is the right one in " +
                 std::to_string(balance.rightLongest) + " (" + percentOf(balance.rightLongest, total) +
                 "); keep it between " + std::to_string(kMinLongestRightPercent) + "% and " +
                 std::to_string(kMaxLongestRightPercent) + "%, or its length points to or away from the right one");
}

void reportNumericEnd(long count, long total, const char* end, FileReport& report) {
    if (100 * count >= kMinNumericEndPercent * total) return;
    diagnose(report, 0, Severity::Warning, "numeric position",
             std::string("the right value is the ") + end + " of four numeric answers in " + std::to_string(count) +
                 " of " + std::to_string(total) + " questions (" + percentOf(count, total) +
                 "); keep each end at least " + std::to_string(kMinNumericEndPercent) + "%");
}

void reportNumericEnds(const KeyBalance& balance, FileReport& report) {
    long total = balance.numericRecords;
    if (total == 0) return;
    long ends = balance.rightSmallest + balance.rightLargest;
    if (100 * ends < kMinNumericEndsPercent * total) {
        diagnose(report, 0, Severity::Warning, "numeric position",
                 "the right value is the smallest or the largest of four numeric answers in " + std::to_string(ends) +
                     " of " + std::to_string(total) + " questions (" + percentOf(ends, total) +
                     "); keep it there in at least " + std::to_string(kMinNumericEndsPercent) +
                     "%, or a middle value is the better bet");
    }
    reportNumericEnd(balance.rightSmallest, total, "smallest", report);
    reportNumericEnd(balance.rightLargest, total, "largest", report);
}

void reportCategoryPositions(const KeyBalance& balance, FileReport& report) {
    for (int category = 1; category <= kCategoryCount; ++category) {
        for (int at = 0; at < kAnswerCount; ++at) {
            int count = balance.categoryAtPosition[category][at];
            if (count >= kMinCategoryAtPosition && count <= kMaxCategoryAtPosition) continue;
            diagnose(report, 0, Severity::Warning, "category position",
                     std::string("the ") + kCategoryNames[category] + " answer is answer " + std::to_string(at + 1) +
                         " in " + std::to_string(count) + " of " + std::to_string(kCharacterRecords) +
                         " character records; keep each category at each position " +
                         std::to_string(kMinCategoryAtPosition) + " to " + std::to_string(kMaxCategoryAtPosition) +
                         " times");
        }
    }
}

void reportShortestCategories(const KeyBalance& balance, FileReport& report) {
    for (int category = 1; category <= kCategoryCount; ++category) {
        int count = balance.shortestOfCategory[category];
        if (count <= kMaxShortestOfCategory) continue;
        diagnose(report, 0, Severity::Warning, "category shortest",
                 std::string("the ") + kCategoryNames[category] + " answer is the shortest of the four in " +
                     std::to_string(count) + " of " + std::to_string(kCharacterRecords) +
                     " character records; at most " + std::to_string(kMaxShortestOfCategory) +
                     ", or its length gives it away");
    }
}

}  // namespace

void tallyIntellectKey(KeyBalance& balance, FileReport& report, long record, long keyLine, std::int32_t key,
                       const AnswerLengths& lengths, ValueRank rank) {
    ++balance.intellectRecords;
    ++balance.keyCount[key];
    int longest = standOutPosition(lengths, true);
    if (longest >= 0) ++balance.oneLongest;
    if (longest == key - 1) ++balance.rightLongest;
    if (rank != ValueRank::NotNumeric) ++balance.numericRecords;
    if (rank == ValueRank::Smallest) ++balance.rightSmallest;
    if (rank == ValueRank::Largest) ++balance.rightLargest;
    KeyRun& run = balance.run;
    if (run.length > 0 && run.key == key) {
        ++run.length;
        return;
    }
    reportRunIfLong(run, report);
    run = {key, 1, record, keyLine};
}

void tallyCharacterKey(KeyBalance& balance, const std::int32_t (&categories)[kAnswerCount],
                       const AnswerLengths& lengths) {
    ++balance.characterRecords;
    for (int at = 0; at < kAnswerCount; ++at) ++balance.categoryAtPosition[categories[at]][at];
    int shortest = standOutPosition(lengths, false);
    if (shortest >= 0) ++balance.shortestOfCategory[categories[shortest]];
}

void reportKeyBalance(KeyBalance& balance, FileReport& report) {
    reportRunIfLong(balance.run, report);
    balance.run = {};
    if (balance.intellectRecords >= kMinIntellectForShares) {
        reportKeyShares(balance, report);
        reportRightLongest(balance, report);
        reportNumericEnds(balance, report);
    }
    if (balance.characterRecords == kCharacterRecords) {
        reportCategoryPositions(balance, report);
        reportShortestCategories(balance, report);
    }
}

void summarizeKeyBalance(const KeyBalance& balance, FileReport& report) {
    std::string spread = "intellect key spread:";
    for (int digit = 1; digit <= kAnswerCount; ++digit) {
        spread += (digit > 1 ? ", " : " ") + std::to_string(digit) + ": " + std::to_string(balance.keyCount[digit]) +
                  " (" + percentOf(balance.keyCount[digit], balance.intellectRecords) + ")";
    }
    summarize(report, spread);
    summarize(report, "right answer the one longest: " + std::to_string(balance.rightLongest) + " of " +
                          std::to_string(balance.oneLongest) + " with one longest answer (" +
                          percentOf(balance.rightLongest, balance.oneLongest) + ")");
    summarize(report, "right value the smallest: " + std::to_string(balance.rightSmallest) + ", the largest: " +
                          std::to_string(balance.rightLargest) + " of " + std::to_string(balance.numericRecords) +
                          " with four numeric answers (" + percentOf(balance.rightSmallest, balance.numericRecords) +
                          ", " + percentOf(balance.rightLargest, balance.numericRecords) + ")");
}

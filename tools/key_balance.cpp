// Warnings on the balance of answer keys: how often each position is right, runs
// of one intellect key, right answers that stand out as the longest, and
// character categories that keep one place or one length among the answers.
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

void reportKeyShares(const KeyBalance& balance, FileReport& report) {
    long total = balance.intellectRecords;
    for (int key = 1; key <= kAnswerCount; ++key) {
        long share = 100L * balance.keyCount[key];
        if (share >= kMinKeySharePercent * total && share <= kMaxKeySharePercent * total) continue;
        diagnose(report, 0, Severity::Warning, "key spread",
                 "intellect key " + std::to_string(key) + " is right for " + std::to_string(balance.keyCount[key]) +
                     " of " + std::to_string(total) + " questions (" + percentOf(balance.keyCount[key], total) +
                     "); keep each position between " + std::to_string(kMinKeySharePercent) + "% and " +
                     std::to_string(kMaxKeySharePercent) + "%");
    }
}

void reportRightLongest(const KeyBalance& balance, FileReport& report) {
    long total = balance.intellectRecords;
    if (balance.rightLongest * kMaxLongestRightDivisor <= total) return;
    diagnose(report, 0, Severity::Warning, "right answer longest",
             "the right answer is the longest of the four in " + std::to_string(balance.rightLongest) + " of " +
                 std::to_string(total) + " intellect questions (" + percentOf(balance.rightLongest, total) +
                 "); at most a third, or its length gives it away");
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
                       const AnswerLengths& lengths) {
    ++balance.intellectRecords;
    ++balance.keyCount[key];
    if (standOutPosition(lengths, true) == key - 1) ++balance.rightLongest;
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
    }
    if (balance.characterRecords == kCharacterRecords) {
        reportCategoryPositions(balance, report);
        reportShortestCategories(balance, report);
    }
}

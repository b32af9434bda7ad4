// Warnings on the balance of answer keys: runs of one intellect key, and
// character categories that keep one place or one length among the answers.
#include <string>

#include "tools/answer_cues.h"
#include "tools/key_balance.h"

namespace {

void reportRunIfLong(const KeyRun& run, FileReport& report) {
    if (run.length <= kMaxKeyRun) return;
    diagnose(report, run.firstLine, Severity::Warning, "key run",
             "intellect key " + std::to_string(run.key) + " is right " + std::to_string(run.length) +
                 " times in a row (records " + std::to_string(run.firstRecord) + " to " +
                 std::to_string(run.firstRecord + run.length - 1) + "); keep runs to " + std::to_string(kMaxKeyRun));
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

void tallyIntellectKey(KeyBalance& balance, FileReport& report, long record, long keyLine, std::int32_t key) {
    ++balance.intellectRecords;
    ++balance.keyCount[key];
    KeyRun& run = balance.run;
    if (run.length > 0 && run.key == key) {
        ++run.length;
        return;
    }
    reportRunIfLong(run, report);
    run = {key, 1, record, keyLine};
}

void tallyCharacterKey(KeyBalance& balance, const std::int32_t (&categories)[kAnswerCount],
                       const CurrentQuestion& question) {
    ++balance.characterRecords;
    AnswerMeasures lengths;
    measureLengths(question, lengths);
    std::uint8_t shortest = standsOutAlone(lengths, false);
    for (int at = 0; at < kAnswerCount; ++at) {
        ++balance.categoryAtPosition[categories[at]][at];
        if ((shortest >> at) & 1) ++balance.shortestOfCategory[categories[at]];
    }
}

void reportKeyBalance(KeyBalance& balance, FileReport& report) {
    reportRunIfLong(balance.run, report);
    balance.run = {};
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
}

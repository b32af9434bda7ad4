// Levels and the final report. Totals read from a score file can sit near the
// 32-bit limits, so they stop at the limit instead of wrapping.
#include "app/verdict.h"

#include <cstdint>
#include <iterator>

#include "app/console.h"
#include "core/cp1251.h"
#include "core/run_state.h"
#include "core/verdict_words.h"
#include "profiles/score_record.h"

namespace {

std::int32_t addClamped(std::int32_t total, std::int32_t amount) {
    std::int64_t sum = static_cast<std::int64_t>(total) + amount;
    if (sum > INT32_MAX) return INT32_MAX;
    if (sum < INT32_MIN) return INT32_MIN;
    return static_cast<std::int32_t>(sum);
}

const char* intellectLabelFor(std::int32_t average) {
    for (const IntellectLevel& level : kIntellectLevels) {
        if (average >= level.fromAverage) return level.word;
    }
    return kIntellectLevels[std::size(kIntellectLevels) - 1].word;  // not reached: the last level takes all
}

}  // namespace

void scoreIntellect(std::int32_t rightCount) {
    PlayerProfile& profile = runState.playerProfile;
    profile.attempts = addClamped(profile.attempts, 1);
    profile.correctTotal = addClamped(profile.correctTotal, rightCount);
    profile.wrongTotal = addClamped(profile.wrongTotal, kIntellectPerRun - rightCount);
    // A damaged record can leave no runs to divide by; this run alone decides then.
    std::int32_t average = profile.attempts > 0 ? profile.correctTotal / profile.attempts : rightCount;
    copyField(profile.intellectLabel, kIntellectLabelSize, intellectLabelFor(average));
}

void chooseCharacter() {
    int bestCategory = 0;
    std::int32_t bestCount = 0;
    for (int category = 1; category <= kCategoryCount; ++category) {
        if (runState.categoryTally[category] > bestCount) {
            bestCategory = category;
            bestCount = runState.categoryTally[category];
        }
    }
    if (bestCategory == 0) return;
    copyField(runState.playerProfile.characterLabel, kCharacterLabelSize, kCharacterWords[bestCategory]);
}

void printReport(std::int32_t rightCount) {
    const PlayerProfile& profile = runState.playerProfile;
    printText("\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\nНаш тест успешно завершен. Его результаты оказались такими:\n"
              "Настоящий "_cp);
    printText(profile.characterLabel);
    printText(" ");
    printText(profile.name);
    printText(" ");
    printText("ответил на "_cp);
    printNumber(rightCount);
    printText(" вопросов правильно и на "_cp);
    printNumber(kIntellectPerRun - rightCount);
    printText(" ");
    printText("вопросов дал неправильный ответ.\nИсходя из этого, его интеллектуальный уровень был достоверно "
              "установлен\nкак "_cp);
    printText(profile.intellectLabel);
    printText(". ");
    printText(profile.name);
    printText(" ");
    printText(profile.intellectLabel);
    printText(" ");
    printText(" - хорошо это или плохо - судить вам.\nНо, в любом случае, всегда надо стремиться к совершенству, "
              "какое бы оно ни было.\nХарактер "_cp);
    printText(profile.name);
    printText(" ");
    printText(profile.characterLabel);
    printText(", что говорит о его жизненных взглядах.\nМы надеемся, что мы помогли вам определить ваше место в "
              "жизни.\n\n\t\tСпасибо за использование продукции KWRM и GMPF!\n\n\nДля выхода нажмите любую "
              "клавишу."_cp);
    printText("\n\n\n\n\n");
}

// The run driver: one straight pass through the screens of a run. Failures that
// end the run early leave through abortRun, the one way out besides the end.
#include "app/run_driver.h"

#include <cstdio>
#include <cstring>

#include "app/console.h"
#include "core/cp1251.h"
#include "app/player_name.h"
#include "core/run_state.h"
#include "app/test_play.h"
#include "app/verdict.h"
#include "platform/platform.h"
#include "profiles/profile_store.h"
#include "questions/question_db.h"

namespace {

const char* const kDatabaseFailure = "Abnormal program termination";
const char* const kScoreFailure = "\nAbnormal program termination";

const char* namePrompt() { return "Для продолжения введите свое имя: "_cp; }

// Counts the database; a run needs 25 different intellect questions.
void countDatabase() {
    if (!countQuestions()) abortRun(kDatabaseFailure);
    if (runState.intellectQuestionCount >= kIntellectPerRun) return;
    std::fprintf(stderr, "prozorometr: %s offers %d intellect questions, %d are needed\n", kDatabaseFile,
                 static_cast<int>(runState.intellectQuestionCount < 0 ? 0 : runState.intellectQuestionCount),
                 kIntellectPerRun);
    abortRun(kDatabaseFailure);
}

void printBanner() {
    printText("© 2004 KWRM и GMPF\n"_cp);
    printText("\n\t\t\tВорсендаль Dezaredara\n\t\t\tв сотрудничестве с\n\t\t\tDuv Ureraz Azeruz Dravenholt\n\t\t\t"
              "представляет новую программу\n\n\t\t\t\t\"Прозорометр-2004\"\n\n\nДобро пожаловать в "
              "интерактивный тест на интеллектуальную, социальную \nи психологическую адаптивность "
              "\"Прозорометр-2004\"!\n\n"_cp);
    printText(namePrompt());
}

// Reads the name until it is one word the score file can keep. When input ends
// first (a pipe or file run out), asking again is no use: the run ends there,
// nothing played or stored, with one line on stderr and status 1.
void readPlayerName(char (&typedName)[kNameSize]) {
    for (int length = readNameLine(typedName); length >= 0; length = readNameLine(typedName)) {
        const char* refusal = nameRefusal(typedName, length);
        if (refusal == nullptr) return;
        printText(refusal);
        printText(namePrompt());
    }
    endLine();
    std::fprintf(stderr, "prozorometr: input ended before a name was given; no game was played\n");
    abortRun("");
}

void printField(const char* caption, const char* text) {
    printText(caption);
    printText(text);
    endLine();
}

void printCount(const char* caption, std::int32_t value) {
    printText(caption);
    printNumber(value);
    endLine();
}

}  // namespace

void printProfileSummary() {
    const PlayerProfile& profile = runState.playerProfile;
    printText("\n\n");
    printField("Пользователь "_cp, profile.name);
    printCount("Попыток "_cp, profile.attempts);
    printCount("Ответов верных "_cp, profile.correctTotal);
    printCount("Ответов неверных "_cp, profile.wrongTotal);
    printField("Ваш интеллект: "_cp, profile.intellectLabel);
    printField("Ваш характер: "_cp, profile.characterLabel);
}

int runProgram() {
    platform::prepareStandardStreams();
    platform::ignoreFileSizeSignal();
    countDatabase();
    std::memset(runState.askedIntellect, 0, sizeof runState.askedIntellect);
    printBanner();
    char typedName[kNameSize];
    readPlayerName(typedName);
    ScoreLookup lookup = loadProfile(typedName);
    if (lookup.outcome == Lookup::Failed) abortRun(kScoreFailure);
    printProfileSummary();
    std::int32_t rightCount = runIntellectTest();
    if (rightCount == kTestAborted) abortRun(kDatabaseFailure);
    scoreIntellect(rightCount);
    if (!runCharacterTest()) abortRun(kDatabaseFailure);
    chooseCharacter();
    printReport(rightCount);
    flushOutput();
    bool saved = saveProfile(typedName, lookup);
    waitForKey();
    return saved ? 0 : 1;
}

// Test play: introductions, question screens, and the judging and counting of
// answers. No feedback is given on a single answer.
#include "app/test_play.h"

#include <cstdio>

#include "app/console.h"
#include "core/cp1251.h"
#include "core/run_state.h"
#include "questions/question_pick.h"

std::int32_t runIntellectTest() {
    printText("\n\t\t\tТест 1.\n\nЭтот тест предназначен для выявления вашего интеллектуального уровня."
              "Вам будут предложены несколько вопросов и несколько вариантов ответов на них. Вы должны будете "
              "ввести один из номеров ответа и нажать Enter.\n\nДля начала теста на умственные способности "
              "нажмите любую клавишу"_cp);
    std::int32_t rightCount = 0;
    for (std::int32_t number = 1; number <= kIntellectPerRun; ++number) {
        if (!pickIntellectQuestion()) return kTestAborted;
        if (number == 1) skipInputLine();  // the introduction waits for one whole line
        showQuestion(number);
        int answerChar = readAnswerLine();
        if (answerChar != EOF && answerChar - '0' == runState.correctAnswer) ++rightCount;
    }
    return rightCount;
}

void countCharacterAnswer(int answerChar) {
    if (answerChar < '1' || answerChar > '4') return;
    std::int32_t category = runState.answerCategory[answerChar - '1'];
    if (category < 0 || category > kCategoryCount) return;  // a key byte that names no slot
    ++runState.categoryTally[category];
}

bool runCharacterTest() {
    printText("\n\t\t\tТест 2.\n\nЭтот тест предназначен для определения вашего характера. Отвечайте честно "
              "по тому же принципу\n\nДля начала теста на характер нажмите любую клавишу"_cp);
    waitForKey();
    for (std::int32_t number = 1; number <= kCharacterPerRun; ++number) {
        if (!pickCharacterQuestion()) return false;
        showQuestion(number);
        countCharacterAnswer(readAnswerLine());
    }
    return true;
}

void showQuestion(std::int32_t questionNumber) {
    const CurrentQuestion& question = runState.currentQuestion;
    printText("\n\n\tВопрос "_cp);
    printNumber(questionNumber);
    endLine();
    endLine();
    printText(question.questionText);
    for (int answer = 0; answer < kAnswerCount; ++answer) {
        const char label[] = {'\n', static_cast<char>('1' + answer), '.', ' ', '\0'};
        printText(label);
        printText(question.answers[answer]);
    }
    endLine();
}

// Question selection: the draw range, no repeats within a run, and loading of
// the chosen record from the database in the current folder.
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>

#include "questions/question_db.h"
#include "questions/question_pick.h"
#include "test_support.h"

namespace {

// Runs each test in a fresh folder holding a database of the given size, whose
// questions say their own record number.
class QuestionPick : public RunStateTest {
protected:
    void SetUp() override {
        RunStateTest::SetUp();
        ASSERT_TRUE(scratch.enter());
    }
    void writeDatabase(int records) {
        std::ofstream db(kDatabaseFile, std::ios::binary);
        for (int n = 1; n <= records; ++n) db << n << "\na\nb\nc\nd\n" << (n <= 25 ? "4 3 2 1" : "3") << "\n";
    }
    ScratchFolder scratch;
};

}  // namespace

TEST(RandomBelow, StaysInRange) {
    EXPECT_EQ(randomBelow(0), 0);
    for (int i = 0; i < 1000; ++i) {
        EXPECT_EQ(randomBelow(1), 0);
        std::int32_t draw = randomBelow(25);
        EXPECT_GE(draw, 0);
        EXPECT_LT(draw, 25);
        std::int32_t negative = randomBelow(-7);
        EXPECT_GE(negative, 0);
        EXPECT_LT(negative, 7);
    }
}

TEST(RandomBelow, ReachesBeyondFifteenBits) {
    // A 15-bit rand() (msvcrt's) must not leave most of a wide range undrawable.
    std::int32_t highest = 0;
    for (int i = 0; i < 200; ++i) {
        std::int32_t draw = randomBelow(INT32_MAX);
        highest = draw > highest ? draw : highest;
    }
    EXPECT_GT(highest, 1 << 30);
}

TEST_F(QuestionPick, ExactlyTwentyFiveIntellectRecordsAreAllAskedOnce) {
    writeDatabase(50);
    ASSERT_TRUE(countQuestions());
    ASSERT_EQ(runState.intellectQuestionCount, 25);
    std::set<int> seen;
    for (int question = 0; question < kIntellectPerRun; ++question) {
        ASSERT_TRUE(pickIntellectQuestion());
        int record = runState.askedIntellect[question];
        EXPECT_EQ(std::atoi(runState.currentQuestion.questionText), record);
        EXPECT_EQ(runState.correctAnswer, 3);
        seen.insert(record);
    }
    EXPECT_EQ(seen.size(), 25u);
    EXPECT_EQ(*seen.begin(), 26);
    EXPECT_EQ(*seen.rbegin(), 50);
}

TEST_F(QuestionPick, CharacterPicksFillTheirOwnListOnly) {
    writeDatabase(60);
    ASSERT_TRUE(countQuestions());
    std::set<int> seen;
    for (int question = 0; question < kCharacterPerRun; ++question) {
        ASSERT_TRUE(pickCharacterQuestion());
        int record = runState.askedCharacter[question];
        EXPECT_GE(record, 1);
        EXPECT_LE(record, 25);
        EXPECT_EQ(std::atoi(runState.currentQuestion.questionText), record);
        seen.insert(record);
    }
    EXPECT_EQ(seen.size(), 10u);
    EXPECT_EQ(runState.answerCategory[0], 4);
    EXPECT_EQ(runState.answerCategory[3], 1);
    for (int slot : runState.askedIntellect) EXPECT_EQ(slot, 0);
}

TEST_F(QuestionPick, MissingDatabaseFailsTheLoadAfterNotingThePick) {
    writeDatabase(60);
    ASSERT_TRUE(countQuestions());
    ASSERT_EQ(std::remove(kDatabaseFile), 0);
    EXPECT_FALSE(pickIntellectQuestion());
    EXPECT_NE(runState.askedIntellect[0], 0);
    EXPECT_FALSE(countQuestions());
}

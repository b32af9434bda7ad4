// Scoring: totals, the intellect bands over all runs, the character choice.
#include <cstdint>
#include <string>

#include "app/verdict.h"
#include "test_support.h"

namespace {

class Verdict : public RunStateTest {
protected:
    std::string scoreFresh(std::int32_t rightCount) {
        std::memset(&runState.playerProfile, 0, sizeof runState.playerProfile);
        scoreIntellect(rightCount);
        return runState.playerProfile.intellectLabel;
    }
    std::string chooseFrom(int c1, int c2, int c3, int c4) {
        runState.categoryTally[1] = c1;
        runState.categoryTally[2] = c2;
        runState.categoryTally[3] = c3;
        runState.categoryTally[4] = c4;
        std::strcpy(runState.playerProfile.characterLabel, "before");
        chooseCharacter();
        return runState.playerProfile.characterLabel;
    }
};

}  // namespace

TEST_F(Verdict, BandBordersOfAFirstRun) {
    EXPECT_EQ(scoreFresh(25), win1251("гений"));
    EXPECT_EQ(scoreFresh(24), win1251("гений"));
    EXPECT_EQ(scoreFresh(23), win1251("образованный"));
    EXPECT_EQ(scoreFresh(19), win1251("образованный"));
    EXPECT_EQ(scoreFresh(18), win1251("раздолбай"));
    EXPECT_EQ(scoreFresh(14), win1251("раздолбай"));
    EXPECT_EQ(scoreFresh(13), win1251("ебанутый"));
    EXPECT_EQ(scoreFresh(0), win1251("ебанутый"));
}

TEST_F(Verdict, TotalsAddUpAndTheAverageDropsItsFraction) {
    scoreFresh(24);
    EXPECT_EQ(runState.playerProfile.attempts, 1);
    EXPECT_EQ(runState.playerProfile.correctTotal, 24);
    EXPECT_EQ(runState.playerProfile.wrongTotal, 1);
    scoreIntellect(23);  // 47 over 2 runs
    EXPECT_EQ(std::string(runState.playerProfile.intellectLabel), win1251("образованный"));
    scoreFresh(25);
    scoreIntellect(10);  // 35 over 2 runs
    EXPECT_EQ(std::string(runState.playerProfile.intellectLabel), win1251("раздолбай"));
}

TEST_F(Verdict, DamagedTotalsNeitherWrapNorDivideByZero) {
    PlayerProfile& profile = runState.playerProfile;
    profile.attempts = INT32_MAX;
    profile.correctTotal = INT32_MAX;
    profile.wrongTotal = INT32_MAX - 3;
    scoreIntellect(20);
    EXPECT_EQ(profile.attempts, INT32_MAX);
    EXPECT_EQ(profile.correctTotal, INT32_MAX);
    EXPECT_EQ(profile.wrongTotal, INT32_MAX);
    profile.attempts = -1;  // raised to 0: this run alone decides
    profile.correctTotal = INT32_MIN;
    scoreIntellect(24);
    EXPECT_EQ(profile.attempts, 0);
    EXPECT_EQ(profile.correctTotal, INT32_MIN + 24);
    EXPECT_EQ(std::string(profile.intellectLabel), win1251("гений"));
    profile.attempts = INT32_MIN;
    scoreIntellect(0);
    EXPECT_EQ(std::string(profile.intellectLabel), win1251("ебанутый"));
}

TEST_F(Verdict, LargestTallyWinsAndTiesGoToTheLowerCategory) {
    EXPECT_EQ(chooseFrom(3, 3, 2, 2), win1251("еврей"));
    EXPECT_EQ(chooseFrom(0, 4, 2, 4), win1251("нормальный"));
    EXPECT_EQ(chooseFrom(1, 2, 3, 0), win1251("извращенец"));
    EXPECT_EQ(chooseFrom(0, 0, 0, 1), win1251("экстримал"));
    runState.categoryTally[0] = 7;  // slot 0 decides nothing
    EXPECT_EQ(chooseFrom(0, 0, 0, 0), "before");
}

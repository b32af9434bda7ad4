// The checker's blind rules and the tails that judge them: which answer each
// rule picks where one stands out alone (and none on a tie), and exact binomial
// tails, also where the probability is far below what a double holds.
#include <cstring>
#include <string>

#include "test_support.h"
#include "tools/answer_cues.h"
#include "tools/binomial.h"

namespace {

struct PickCase {
    const char* answers[kAnswerCount];  // UTF-8
    CueRule rule;
    unsigned picked;  // bit 0: answer 1; 0: the rule does not decide
};

// Expected picks worked out by hand, and by a separate script for the likeness sums.
const PickCase kPickCases[] = {
    {{"Москва", "Рим", "Лондон", "Париж"}, kShortest, 0b0010},  // characters, not UTF-8 bytes
    {{"Москва", "Рим", "Лондон", "Париж"}, kLongest, 0},        // two of six share it
    {{"Москва", "Рим", "Лондон", "Париж"}, kOddLength, 0b0010},  // 3 is farther from 5.25 than 6
    {{"Петербург", "Петергоф", "Петрозаводск", "Самара"}, kOddLength, 0b0100},
    {{"Петербург", "Петергоф", "Петрозаводск", "Самара"}, kMostAlike, 0b0010},
    {{"Петербург", "Петергоф", "Петрозаводск", "Самара"}, kMostUnlike, 0b1000},
    {{"Кот", "кот", "КОТ", "пёс"}, kMostAlike, 0},  // letter case makes no difference: a tie of three
    {{"Кот", "кот", "КОТ", "пёс"}, kMostUnlike, 0b1000},
    {{"Два слова", "Один", "Здесь три слова", "Ещё — слова"}, kMostWords, 0b0100},
    {{"Два слова", "Один", "Здесь три слова", "Ещё — слова"}, kFewestWords, 0b0010},
    {{"Два слова", "Один", "Здесь три слова", "Ещё три — слова"}, kMostWords, 0},  // a dash is no word
    {{"Около 30 км", "Около 10 км", "Около 40 км", "Около 20 км"}, kSmallest, 0b0010},
    {{"Около 30 км", "Около 10 км", "Около 40 км", "Около 20 км"}, kLargest, 0b0100},
    {{"Около 30 км", "Около 10 км", "Около 40 км", "Около 20 км"}, kMiddleValues, 0b1001},
    {{"30", "Около 10", "40", "20"}, kMiddleValues, 0},  // not the same leading words: not numeric
    {{"30", "Около 10", "40", "20"}, kMostWords, 0b0010},
    {{"а", "б", "в", "г"}, kPosition3, 0b0100},
};

CurrentQuestion questionWith(const char* const (&answers)[kAnswerCount]) {
    CurrentQuestion question{};
    for (int answer = 0; answer < kAnswerCount; ++answer) {
        std::string bytes = win1251(answers[answer]);
        std::memcpy(question.answers[answer], bytes.c_str(), bytes.size() + 1);
    }
    return question;
}

TEST(BlindRules, PickTheAnswerThatStandsOutAlone) {
    for (const PickCase& test : kPickCases) {
        CuePicks picks;
        pickByCueRules(questionWith(test.answers), picks);
        EXPECT_EQ(picks[test.rule], test.picked) << kCueRules[test.rule].name << " among " << test.answers[0]
                                                  << " / " << test.answers[1] << " / " << test.answers[2] << " / "
                                                  << test.answers[3];
    }
}

struct TailCase {
    bool upper;  // P(X >= hits); else P(X <= hits)
    long hits;
    long trials;
    double chance;
    double log10Probability;  // from exact fractions
};

const TailCase kTailCases[] = {
    {true, 40, 40, 0.25, -24.082399653118497},    // all 40 right: 0.25^40
    {true, 15, 25, 0.25, -3.6685475882840066},
    {true, 34, 100, 0.25, -1.5591764614425188},
    {true, 66, 100, 0.5, -3.0481938536119983},
    {true, 300, 1000, 0.25, -3.713116357922104},
    {true, 1000, 1000, 0.25, -602.0599913279624},  // far below the smallest double
    {true, 1, 10, 0.25, -0.02517226451888277},
    {true, 0, 10, 0.25, 0.0},
    {false, 0, 40, 0.25, -4.997549464332},          // never right: 0.75^40
    {false, 12, 100, 0.25, -2.988244314609389},
    {false, 100, 400, 0.25, -0.27832324906049166},
};

TEST(BinomialTails, MatchExactSums) {
    for (const TailCase& test : kTailCases) {
        double got = test.upper ? upperTailLog10(test.hits, test.trials, test.chance)
                                : lowerTailLog10(test.hits, test.trials, test.chance);
        EXPECT_NEAR(got, test.log10Probability, 1e-9 * (1.0 - test.log10Probability))
            << (test.upper ? "at least " : "at most ") << test.hits << " of " << test.trials;
    }
    EXPECT_EQ(probabilityText(-24.082399653118497), "8.3e-25");
    EXPECT_EQ(probabilityText(-602.0599913279624), "8.7e-603");
    EXPECT_EQ(probabilityText(-4.0000000001), "1.0e-04");  // a mantissa that rounds up to 10
}

}  // namespace

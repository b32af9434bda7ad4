// The tests of the blind rules: figures per rule and group, the bound shared
// among the tests that could reach it (Tarone's count: a test that could not be
// warned even at its most extreme figures is not counted), the warnings and the
// summary.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "tools/binomial.h"
#include "tools/cue_tests.h"

namespace {

// One rule's figures in one group, and one way of departing from chance.
struct CueTest {
    int group;  // -1: the whole file
    int rule;
    long hits;         // questions where the rule picks the right answer
    long decided;      // questions where the rule picks at all
    bool pointsTo;     // tests whether the rule picks the right answer too often; else too seldom
    double bestLog10;  // log10 of the smallest p these many questions could give
};

double chanceOf(int rule) { return kCueRules[rule].picked / static_cast<double>(kAnswerCount); }

bool inGroup(const CueQuestion& question, int group, const TopicList* topics) {
    if (group < 0) return true;
    const std::vector<int>& groups = topics->groupsOf[static_cast<std::size_t>(question.intellectIndex)];
    return std::find(groups.begin(), groups.end(), group) != groups.end();
}

// Adds the two tests (towards and away) of every rule that decides a question of the group.
void addGroupTests(const CueTally& tally, int group, const TopicList* topics, std::vector<CueTest>& tests) {
    long hits[kCueRuleCount] = {};
    long decided[kCueRuleCount] = {};
    for (const CueQuestion& question : tally.questions) {
        if (!inGroup(question, group, topics)) continue;
        for (int rule = 0; rule < kCueRuleCount; ++rule) {
            if (question.picks[rule] == 0) continue;
            ++decided[rule];
            if ((question.picks[rule] >> (question.key - 1)) & 1) ++hits[rule];
        }
    }
    for (int rule = 0; rule < kCueRuleCount; ++rule) {
        if (decided[rule] == 0) continue;
        double chance = chanceOf(rule);
        tests.push_back({group, rule, hits[rule], decided[rule], true, decided[rule] * std::log10(chance)});
        tests.push_back({group, rule, hits[rule], decided[rule], false, decided[rule] * std::log10(1.0 - chance)});
    }
}

// The number of tests the bound is shared among: the smallest count K such
// that no more than K tests could reach kCueFalseAlarm / K.
long sharingTests(const std::vector<CueTest>& tests) {
    for (long count = 1;; ++count) {
        double bound = std::log10(kCueFalseAlarm / static_cast<double>(count));
        auto able = std::count_if(tests.begin(), tests.end(),
                                  [bound](const CueTest& test) { return test.bestLog10 <= bound; });
        if (able <= count) return count;
    }
}

double testLog10(const CueTest& test) {
    double chance = chanceOf(test.rule);
    return test.pointsTo ? upperTailLog10(test.hits, test.decided, chance)
                         : lowerTailLog10(test.hits, test.decided, chance);
}

std::string chanceText(int rule) { return std::to_string(100 * kCueRules[rule].picked / kAnswerCount) + "%"; }

void warnCue(const CueTest& test, double log10p, const TopicList* topics, FileReport& report) {
    const CueRuleText& rule = kCueRules[test.rule];
    std::string scope = test.group < 0 ? "" : "in " + quoteText(topics->groupNames[test.group]) + ", ";
    std::string among = *rule.among == '\0' ? "" : std::string(" ") + rule.among;
    std::string mend = test.pointsTo ? "make " + std::string(rule.standing) + " a wrong answer in more of them"
                                     : "make " + std::string(rule.standing) + " the right answer in more of them";
    diagnose(report, 0, Severity::Warning, std::string("cue ") + rule.name,
             scope + "the right answer is " + rule.standing + " in " + std::to_string(test.hits) + " of " +
                 std::to_string(test.decided) + " intellect questions" + among + " (" +
                 percentOf(test.hits, test.decided) + "; chance " + chanceText(test.rule) + "), p = " +
                 probabilityText(log10p) + "; " + mend + (rule.reorder ? " (reorder answers)" : " (rewrite answers)"));
}

// "longest 177 of 691 (25.6%)" for each rule from first to last, over the whole file.
std::string ruleFigures(const std::vector<CueTest>& tests, int first, int last) {
    std::string figures;
    for (const CueTest& test : tests) {
        if (test.group >= 0 || !test.pointsTo || test.rule < first || test.rule > last) continue;
        figures += (figures.empty() ? "" : ", ") + std::string(kCueRules[test.rule].name) + " " +
                   std::to_string(test.hits) + " of " + std::to_string(test.decided) + " (" +
                   percentOf(test.hits, test.decided) + ")";
    }
    return figures.empty() ? "none decided" : figures;
}

std::string boundText(long sharing) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1e", kCueFalseAlarm / static_cast<double>(sharing));
    return text;
}

void keepFigures(const std::vector<CueTest>& tests, long sharing, std::size_t groups, CueTally& tally) {
    tally.summary = {
        "right answer by length, words and likeness: " + ruleFigures(tests, kLongest, kOddLength),
        "right value of four numeric answers: " + ruleFigures(tests, kSmallest, kMiddleValues),
        tests.empty() ? std::string("blind rules: no intellect question to judge")
                      : "blind rules: " + std::to_string(tests.size()) + " tests (each rule both ways, over the file" +
                            (groups > 0 ? " and " + std::to_string(groups) + " groups" : "") +
                            "); a warning needs p < " + boundText(sharing) + ", 1% shared among " +
                            std::to_string(sharing) + " (at most that many could reach it)"};
}

}  // namespace

void tallyCues(CueTally& tally, const CurrentQuestion& question, std::int32_t key, long intellectIndex) {
    CueQuestion counted{{}, key, intellectIndex};
    pickByCueRules(question, counted.picks);
    tally.questions.push_back(counted);
}

void reportCues(CueTally& tally, const TopicList* topics, FileReport& report) {
    if (topics != nullptr && !topics->matches) topics = nullptr;
    std::size_t groups = topics == nullptr ? 0 : topics->groupNames.size();
    std::vector<CueTest> tests;
    addGroupTests(tally, -1, topics, tests);
    for (std::size_t group = 0; group < groups; ++group) addGroupTests(tally, static_cast<int>(group), topics, tests);
    long sharing = sharingTests(tests);
    double bound = std::log10(kCueFalseAlarm / static_cast<double>(sharing));
    for (const CueTest& test : tests) {
        if (test.bestLog10 > bound) continue;
        double log10p = testLog10(test);
        if (log10p < bound) warnCue(test, log10p, topics, report);
    }
    keepFigures(tests, sharing, groups, tally);
}

void summarizeCues(const CueTally& tally, FileReport& report) {
    for (const std::string& line : tally.summary) summarize(report, line);
}

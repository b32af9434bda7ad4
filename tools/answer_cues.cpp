// What each blind rule picks: lengths in characters (bytes in Windows-1251),
// words as runs of non-blanks holding a letter or digit, likeness as the Dice
// overlap of letter pairs, summed over the other three answers.
#include <cstring>
#include <set>
#include <string>

#include "tools/answer_cues.h"
#include "tools/answer_text.h"
#include "tools/numeric_answers.h"

const CueRuleText kCueRules[kCueRuleCount] = {
    {"answer 1", "answer 1", "", 1, true},
    {"answer 2", "answer 2", "", 1, true},
    {"answer 3", "answer 3", "", 1, true},
    {"answer 4", "answer 4", "", 1, true},
    {"longest", "the longest", "with one longest answer", 1, false},
    {"shortest", "the shortest", "with one shortest answer", 1, false},
    {"most words", "the one with the most words", "with one such answer", 1, false},
    {"fewest words", "the one with the fewest words", "with one such answer", 1, false},
    {"most alike", "the one most like the other three", "with one such answer", 1, false},
    {"most unlike", "the one least like the other three", "with one such answer", 1, false},
    {"odd length", "the odd length out", "with one answer farthest from the mean length", 1, false},
    {"smallest", "the smallest value", "with four numeric answers", 1, false},
    {"largest", "the largest value", "with four numeric answers", 1, false},
    {"middle", "a middle value", "with four numeric answers", 2, false},
};

namespace {

constexpr double kSameMeasure = 1e-9;  // likeness sums that differ by less are equal

bool isBlank(unsigned char byte) { return byte == ' ' || byte == '\t' || byte == 0xA0; }

double wordCount(const char* text) {
    int words = 0;
    bool counted = false;  // the current word holds a letter or digit and was counted
    for (; *text != '\0'; ++text) {
        unsigned char byte = static_cast<unsigned char>(*text);
        if (isBlank(byte)) {
            counted = false;
        } else if (!counted && (isLetter(byte) || (byte >= '0' && byte <= '9'))) {
            counted = true;
            ++words;
        }
    }
    return words;
}

std::set<std::string> letterPairs(const char* text) {
    std::string normal = normalisedText(text);
    std::set<std::string> pairs;
    for (std::size_t at = 0; at + 1 < normal.size(); ++at) pairs.insert(normal.substr(at, 2));
    return pairs;
}

// Dice's coefficient: shared pairs against the pairs of both, 0 to 1.
double likeness(const std::set<std::string>& one, const std::set<std::string>& other) {
    if (one.empty() && other.empty()) return 0.0;
    std::size_t shared = 0;
    for (const std::string& pair : one) shared += other.count(pair);
    return 2.0 * static_cast<double>(shared) / static_cast<double>(one.size() + other.size());
}

void measureLikeness(const CurrentQuestion& question, AnswerMeasures& likenessSums) {
    std::set<std::string> pairs[kAnswerCount];
    for (int answer = 0; answer < kAnswerCount; ++answer) pairs[answer] = letterPairs(question.answers[answer]);
    for (int answer = 0; answer < kAnswerCount; ++answer) {
        likenessSums[answer] = 0.0;
        for (int other = 0; other < kAnswerCount; ++other) {
            if (other != answer) likenessSums[answer] += likeness(pairs[answer], pairs[other]);
        }
    }
}

// The length rules; the odd one out is farthest from the mean of the four.
void pickByLength(const CurrentQuestion& question, CuePicks& picks) {
    AnswerMeasures lengths;
    measureLengths(question, lengths);
    double total = lengths[0] + lengths[1] + lengths[2] + lengths[3];
    AnswerMeasures fromMean;
    for (int answer = 0; answer < kAnswerCount; ++answer)
        fromMean[answer] = lengths[answer] * kAnswerCount > total ? lengths[answer] * kAnswerCount - total
                                                                  : total - lengths[answer] * kAnswerCount;
    picks[kLongest] = standsOutAlone(lengths, true);
    picks[kShortest] = standsOutAlone(lengths, false);
    picks[kOddLength] = standsOutAlone(fromMean, true);
}

void pickByValue(const CurrentQuestion& question, CuePicks& picks) {
    int ascending[kAnswerCount];
    if (!orderAnswerValues(question, ascending)) {
        picks[kSmallest] = picks[kLargest] = picks[kMiddleValues] = 0;
        return;
    }
    picks[kSmallest] = static_cast<std::uint8_t>(1u << ascending[0]);
    picks[kLargest] = static_cast<std::uint8_t>(1u << ascending[kAnswerCount - 1]);
    picks[kMiddleValues] = static_cast<std::uint8_t>((1u << ascending[1]) | (1u << ascending[2]));
}

}  // namespace

std::uint8_t standsOutAlone(const AnswerMeasures& measures, bool most) {
    int found = 0;
    bool shared = false;
    for (int at = 1; at < kAnswerCount; ++at) {
        double beyond = most ? measures[at] - measures[found] : measures[found] - measures[at];
        if (beyond > kSameMeasure) {
            found = at;
            shared = false;
        } else if (beyond >= -kSameMeasure) {
            shared = true;
        }
    }
    return shared ? 0 : static_cast<std::uint8_t>(1u << found);
}

void measureLengths(const CurrentQuestion& question, AnswerMeasures& lengths) {
    for (int answer = 0; answer < kAnswerCount; ++answer)
        lengths[answer] = static_cast<double>(std::strlen(question.answers[answer]));
}

void pickByCueRules(const CurrentQuestion& question, CuePicks& picks) {
    for (int answer = 0; answer < kAnswerCount; ++answer) picks[kPosition1 + answer] = static_cast<std::uint8_t>(1u << answer);
    pickByLength(question, picks);
    AnswerMeasures words;
    for (int answer = 0; answer < kAnswerCount; ++answer) words[answer] = wordCount(question.answers[answer]);
    picks[kMostWords] = standsOutAlone(words, true);
    picks[kFewestWords] = standsOutAlone(words, false);
    AnswerMeasures likenessSums;
    measureLikeness(question, likenessSums);
    picks[kMostAlike] = standsOutAlone(likenessSums, true);
    picks[kMostUnlike] = standsOutAlone(likenessSums, false);
    pickByValue(question, picks);
}

// The numbers in an answer, read from its Windows-1251 bytes: digits, blanks
// between groups of three digits ("300 000"), a decimal comma or point, and a
// denominator after a slash ("2/3").
#include <algorithm>
#include <string>
#include <vector>

#include "tools/numeric_answers.h"

namespace {

constexpr unsigned char kNoBreakSpace = 0xA0;

struct AnswerValue {
    std::string lead;             // the words before the first number
    std::vector<double> numbers;  // every number in the answer, in order
};

bool isDigit(const std::string& text, std::size_t at) { return at < text.size() && text[at] >= '0' && text[at] <= '9'; }

bool isBlank(char byte) { return byte == ' ' || static_cast<unsigned char>(byte) == kNoBreakSpace; }

double readDigits(const std::string& text, std::size_t& at) {
    double value = 0;
    for (; isDigit(text, at); ++at) value = value * 10 + (text[at] - '0');
    return value;
}

// Digits and the groups of three that follow them after a blank.
double readWholePart(const std::string& text, std::size_t& at) {
    double value = readDigits(text, at);
    while (at < text.size() && isBlank(text[at]) && isDigit(text, at + 1) && isDigit(text, at + 2) &&
           isDigit(text, at + 3) && !isDigit(text, at + 4)) {
        ++at;
        value = value * 1000 + readDigits(text, at);
    }
    return value;
}

// One number starting at a digit; `at` ends just after it.
double readNumber(const std::string& text, std::size_t& at) {
    double value = readWholePart(text, at);
    if (at < text.size() && (text[at] == ',' || text[at] == '.') && isDigit(text, at + 1)) {
        double scale = 1;
        for (++at; isDigit(text, at); ++at) {
            scale /= 10;
            value += scale * (text[at] - '0');
        }
    }
    if (at < text.size() && text[at] == '/' && isDigit(text, at + 1)) {
        ++at;
        double denominator = readDigits(text, at);
        if (denominator != 0) value /= denominator;
    }
    return value;
}

// False when the answer holds no digit.
bool readAnswerValue(const std::string& text, AnswerValue& value) {
    std::size_t at = 0;
    while (at < text.size() && !isDigit(text, at)) ++at;
    if (at == text.size()) return false;
    value.lead = text.substr(0, at);
    bool negative = !value.lead.empty() && value.lead.back() == '-';
    if (negative) value.lead.pop_back();
    while (at < text.size()) {
        value.numbers.push_back(readNumber(text, at));
        while (at < text.size() && !isDigit(text, at)) ++at;
    }
    if (negative) value.numbers.front() = -value.numbers.front();
    return true;
}

}  // namespace

bool orderAnswerValues(const CurrentQuestion& question, int (&ascending)[kAnswerCount]) {
    AnswerValue values[kAnswerCount];
    for (int answer = 0; answer < kAnswerCount; ++answer) {
        if (!readAnswerValue(question.answers[answer], values[answer])) return false;
        if (values[answer].lead != values[0].lead) return false;
        for (int other = 0; other < answer; ++other) {
            if (values[other].numbers == values[answer].numbers) return false;
        }
        ascending[answer] = answer;
    }
    std::sort(std::begin(ascending), std::end(ascending),
              [&values](int one, int other) { return values[one].numbers < values[other].numbers; });
    return true;
}

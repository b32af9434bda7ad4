// Finding the word stems and marks that only one character category uses. The
// answers are Windows-1251 bytes, one byte a character.
#include <set>

#include "tools/answer_text.h"
#include "tools/giveaway_words.h"
#include "tools/key_balance.h"

namespace {

bool isBlankOrDigit(unsigned char byte) { return byte == ' ' || byte == '\t' || (byte >= '0' && byte <= '9'); }

// The stems of the answer's words of four letters or more, and its marks.
std::set<std::string> answerTokens(const char* text) {
    std::set<std::string> tokens;
    std::string word;
    for (;; ++text) {
        unsigned char byte = static_cast<unsigned char>(*text);
        if (byte != '\0' && isLetter(byte)) {
            word.push_back(foldLetter(byte));
            continue;
        }
        if (word.size() >= kMinStemWordLetters) tokens.insert(word.substr(0, kStemLetters));
        word.clear();
        if (byte == '\0') return tokens;
        if (!isBlankOrDigit(byte)) tokens.insert(std::string(1, static_cast<char>(byte)));
    }
}

// "lines 2, 8, 14", or with the report's origins "character.txt:2, character.txt:8, ...".
std::string listLines(const FileReport& report, const std::vector<long>& lines) {
    std::string list = report.origins.empty() ? "lines " : "";
    for (std::size_t at = 0; at < lines.size(); ++at) {
        if (at > 0) list += ", ";
        list += report.origins.empty() ? std::to_string(lines[at]) : lineName(report, lines[at]);
    }
    return list;
}

// The one category whose answers hold the token, or 0 when none or several do.
int onlyCategory(const CategoryLines& lines) {
    int found = 0;
    for (int category = 1; category <= kCategoryCount; ++category) {
        if (lines[category].empty()) continue;
        if (found != 0) return 0;
        found = category;
    }
    return found;
}

}  // namespace

void tallyAnswerWords(GiveawayTally& tally, const CurrentQuestion& question,
                      const std::int32_t (&categories)[kAnswerCount], long firstAnswerLine) {
    ++tally.characterRecords;
    for (int answer = 0; answer < kAnswerCount; ++answer) {
        for (const std::string& token : answerTokens(question.answers[answer]))
            tally.linesByToken[token][categories[answer]].push_back(firstAnswerLine + answer);
    }
}

void reportGiveaways(const GiveawayTally& tally, FileReport& report) {
    if (tally.characterRecords != kCharacterRecords) return;
    for (const auto& [token, lines] : tally.linesByToken) {
        int category = onlyCategory(lines);
        if (category == 0 || lines[category].size() < kMinGiveawayAnswers) continue;
        bool isStem = isLetter(static_cast<unsigned char>(token[0]));
        diagnose(report, 0, Severity::Warning, "giveaway",
                 std::string(isStem ? "the word stem " : "the mark ") + quoteText(token) + " stands in " +
                     std::to_string(lines[category].size()) + " " + kCategoryNames[category] +
                     " answers and in no other category's (" + listLines(report, lines[category]) +
                     "); a player could learn it instead of weighing the answers");
    }
}

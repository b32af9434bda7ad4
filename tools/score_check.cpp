// Checking a score file: every record as the game's reader takes it, the fields
// that do not fit, names stored twice, and whitespace the game would not write.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <vector>

#include "core/cp1251.h"
#include "core/verdict_words.h"
#include "profiles/score_record.h"
#include "tools/check.h"

namespace {


struct Token {
    std::size_t start;
    std::size_t end;
};

struct ScoreScan {
    FileReport& report;
    std::string bytes = {};
    std::map<std::string, long> nameLines = {};  // first line of each whole record's name
    std::set<std::string> intellectLabels = {};
    std::set<std::string> characterLabels = {};
    int whole = 0;
    int damaged = 0;
    int cutShort = 0;
};

long lineAt(const std::string& bytes, std::size_t offset) {
    return 1 + static_cast<long>(std::count(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(offset), '\n'));
}

std::vector<Token> tokensBetween(const std::string& bytes, std::size_t start, std::size_t end) {
    std::vector<Token> tokens;
    for (std::size_t at = start; at < end;) {
        if (isScoreWhitespace(static_cast<unsigned char>(bytes[at]))) {
            ++at;
            continue;
        }
        std::size_t tokenEnd = at;
        while (tokenEnd < end && !isScoreWhitespace(static_cast<unsigned char>(bytes[tokenEnd]))) ++tokenEnd;
        tokens.push_back({at, tokenEnd});
        at = tokenEnd;
    }
    return tokens;
}

// True for a line break as the game writes it: a line feed, or CR LF where
// text files end lines that way.
bool isLineBreak(const std::string& gap) { return gap == "\n" || gap == "\r\n"; }

// Says which fields of a record that the game refused do not fit.
std::string damageOf(const ScoreScan& scan, const std::vector<Token>& tokens) {
    static const char* const names[kScoreFields] = {"name",        "attempts",        "right total",
                                                   "wrong total", "character label", "intellect label"};
    static const int wordLimits[kScoreFields] = {kNameSize - 1,          0, 0, 0, kCharacterLabelSize - 1,
                                                kIntellectLabelSize - 1};
    std::string damage;
    for (int field = 0; field < kScoreFields; ++field) {
        std::string token = scan.bytes.substr(tokens[field].start, tokens[field].end - tokens[field].start);
        std::string fault;
        std::int32_t number = 0;
        if (wordLimits[field] > 0 && token.size() > static_cast<std::size_t>(wordLimits[field])) {
            fault =
                " is " + std::to_string(token.size()) + " bytes, the field holds " + std::to_string(wordLimits[field]);
        } else if (wordLimits[field] == 0 && !parseScoreNumber(token.data(), static_cast<long>(token.size()), number)) {
            fault = " is not a 32-bit integer";
        }
        if (fault.empty()) continue;
        damage += (damage.empty() ? "" : "; ") + std::string(names[field]) + " " + quoteText(token) + fault;
    }
    return damage.empty() ? "a field does not fit" : damage;
}

// The labels the game stores: the verdict's words, and the fresh profile's.
void collectGameLabels(ScoreScan& scan) {
    for (const IntellectLevel& level : kIntellectLevels) scan.intellectLabels.insert(level.word);
    for (int category = 1; category <= kCategoryCount; ++category) scan.characterLabels.insert(kCharacterWords[category]);
    scan.intellectLabels.insert(kUnknownWord);
    scan.characterLabels.insert(kUnknownWord);
}

// Values that only a hand-edited or damaged file holds.
void checkValues(ScoreScan& scan, long line, const PlayerProfile& profile) {
    if (profile.attempts < 1) {
        diagnose(scan.report, line, Severity::Warning, "attempts",
                 "attempts is " + std::to_string(profile.attempts) + "; the game never stores less than 1");
    } else if (std::int64_t{profile.correctTotal} + profile.wrongTotal !=
               std::int64_t{kIntellectPerRun} * profile.attempts) {
        diagnose(scan.report, line, Severity::Warning, "totals",
                 "right and wrong totals (" + std::to_string(profile.correctTotal) + " + " +
                     std::to_string(profile.wrongTotal) + ") do not make " + std::to_string(kIntellectPerRun) +
                     " per attempt (" + std::to_string(profile.attempts) + ")");
    }
    if (scan.characterLabels.count(profile.characterLabel) == 0) {
        diagnose(scan.report, line, Severity::Warning, "label",
                 "character label " + quoteText(profile.characterLabel, std::strlen(profile.characterLabel)) +
                     " is not one the game sets");
    }
    if (scan.intellectLabels.count(profile.intellectLabel) == 0) {
        diagnose(scan.report, line, Severity::Warning, "label",
                 "intellect label " + quoteText(profile.intellectLabel, std::strlen(profile.intellectLabel)) +
                     " is not one the game sets");
    }
}

void checkWholeRecord(ScoreScan& scan, long line, const PlayerProfile& profile) {
    ++scan.whole;
    auto [first, added] = scan.nameLines.emplace(profile.name, line);
    if (!added) {
        diagnose(scan.report, line, Severity::Warning, "duplicate name",
                 "name " + quoteText(profile.name, std::strlen(profile.name)) +
                     " is stored again; the game uses the record at line " + std::to_string(first->second) +
                     " and never this one");
    }
    checkValues(scan, line, profile);
}

// Warns when a record's fields are not on one line joined by single blanks.
void checkFieldSeparators(ScoreScan& scan, long line, const std::vector<Token>& tokens) {
    bool singleBlanks = true;
    for (std::size_t field = 1; field < tokens.size(); ++field) {
        std::size_t gapStart = tokens[field - 1].end;
        std::string gap = scan.bytes.substr(gapStart, tokens[field].start - gapStart);
        if (gap.find('\n') != std::string::npos) {
            diagnose(scan.report, line, Severity::Warning, "layout",
                     "record is spread over lines " + std::to_string(line) + " to " +
                         std::to_string(lineAt(scan.bytes, tokens.back().start)) +
                         "; the game writes one record per line");
            return;
        }
        singleBlanks = singleBlanks && gap == " ";
    }
    if (!singleBlanks) {
        diagnose(scan.report, line, Severity::Warning, "layout",
                 "fields separated by tabs or several blanks; the game writes single blanks");
    }
}

// Checks the whitespace before a record: nothing or one line break at the start
// of the file, exactly one line break between records.
void checkGapBefore(ScoreScan& scan, long line, std::size_t gapStart, std::size_t recordStart) {
    std::string gap = scan.bytes.substr(gapStart, recordStart - gapStart);
    if (gapStart == 0 && (gap.empty() || isLineBreak(gap))) return;
    if (gapStart > 0 && isLineBreak(gap)) return;
    std::string text;
    if (gapStart == 0) {
        text = "the file starts with whitespace other than a single line break";
    } else if (gap.find('\n') == std::string::npos) {
        text = "record starts on the line of the record before it";
    } else {
        text = "empty lines or blanks around the line break before this record";
    }
    diagnose(scan.report, gapStart == 0 ? 1 : line, Severity::Warning, "layout",
             text + "; the game writes exactly one line break between records");
}

void checkRecordAt(ScoreScan& scan, std::size_t gapStart, std::size_t start, std::size_t end, RecordRead read) {
    long line = lineAt(scan.bytes, start);
    std::vector<Token> tokens = tokensBetween(scan.bytes, start, end);
    checkGapBefore(scan, line, gapStart, start);
    checkFieldSeparators(scan, line, tokens);
    if (read == RecordRead::Whole) {
        checkWholeRecord(scan, line, runState.playerProfile);
    } else if (read == RecordRead::Damaged) {
        ++scan.damaged;
        diagnose(scan.report, line, Severity::Error, "damaged record",
                 "the game cannot read this record and skips it: " + damageOf(scan, tokens));
    } else {
        ++scan.cutShort;
        diagnose(scan.report, line, Severity::Error, "cut short",
                 "record is cut short: " + std::to_string(tokens.size()) + " of " + std::to_string(kScoreFields) +
                     " fields before the end of the file; the game cannot read it");
    }
}

std::size_t positionOf(const ByteReader& in) { return static_cast<std::size_t>(in.offset()); }

void summarizeScoreFile(const ScoreScan& scan) {
    std::string layout = "empty";
    if (scan.whole + scan.damaged + scan.cutShort > 0) {
        bool appended = scan.bytes[0] == '\n' || scan.bytes.compare(0, 2, "\r\n") == 0;
        layout = appended ? "appended to (starts with a line break)" : "rewritten (starts with a record)";
    }
    summarize(scan.report, "records: " + std::to_string(scan.whole) + " whole, " + std::to_string(scan.damaged) +
                               " damaged, " + std::to_string(scan.cutShort) + " cut short; layout: " + layout);
}

}  // namespace

void checkScoreFile(FileReport& report) {
    ScoreScan scan{report};
    if (!readWholeFile(report, scan.bytes)) return;
    collectGameLabels(scan);
    ByteReader in(scan.bytes);
    std::size_t gapStart = 0;
    while (skipWhitespace(in)) {
        std::size_t start = positionOf(in);
        RecordRead read = readScoreRecord(in, runState.playerProfile);
        std::size_t end = read == RecordRead::CutShort ? scan.bytes.size() : positionOf(in);
        checkRecordAt(scan, gapStart, start, end, read);
        gapStart = end;
    }
    if (gapStart < scan.bytes.size()) {
        diagnose(report, lineAt(scan.bytes, gapStart), Severity::Warning, "layout",
                 std::string(gapStart == 0 ? "only whitespace, no record" : "whitespace after the last record") +
                     "; harmless, but the game never writes it");
    }
    summarizeScoreFile(scan);
}

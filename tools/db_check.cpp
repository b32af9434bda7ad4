// Checking a question database: the bytes of every line, then every record as
// the game's own reader loads it, then the count the game makes at start-up.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "core/cp1251.h"
#include "platform/platform.h"
#include "questions/question_db.h"
#include "tools/answer_text.h"
#include "tools/check.h"
#include "tools/cue_tests.h"
#include "tools/giveaway_words.h"
#include "tools/key_balance.h"
#include "tools/topics.h"

namespace {

constexpr int kKeyStride = 2;  // character key digits at bytes 0, 2, 4 and 6
constexpr int kLastKeyPosition = (kAnswerCount - 1) * kKeyStride;

struct DbLine {
    std::size_t start;
    std::size_t length;  // without the line feed
};

struct DatabaseScan {
    FileReport& report;
    std::string bytes = {};
    std::vector<DbLine> lines = {};
    long records = 0;         // whole six-line records
    std::int32_t passes = 0;  // the game's start-up count
    KeyBalance balance = {};  // intellect records the game can ask, character records with valid keys
    std::map<std::string, long> questionRecords = {};  // normalised question -> record
    std::map<std::string, long> answerSetRecords = {};  // normalised intellect answers, sorted -> record
    GiveawayTally giveaways = {};
    CueTally cues = {};
    TopicList* topics = nullptr;  // when given: the groups of the intellect questions
};

std::vector<DbLine> splitLines(const std::string& bytes) {
    std::vector<DbLine> lines;
    for (std::size_t start = 0; start < bytes.size();) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        lines.push_back({start, end - start});
        start = end + 1;
    }
    return lines;
}

bool endsWithLineFeed(const std::string& bytes) { return bytes.empty() || bytes.back() == '\n'; }

// True for text that is valid UTF-8 with at least one multi-byte character:
// Russian text in Windows-1251 practically never is.
bool looksLikeUtf8(const std::string& bytes) {
    bool multiByte = false;
    for (std::size_t at = 0; at < bytes.size();) {
        unsigned long point = 0;
        std::size_t length = cp1251::decodeUtf8(bytes.data(), bytes.size(), at, point);
        if (length == 0) return false;
        multiByte = multiByte || length > 1;
        at += length;
    }
    return multiByte;
}

std::string lineText(const DatabaseScan& scan, long number) {
    const DbLine& line = scan.lines[static_cast<std::size_t>(number - 1)];
    return scan.bytes.substr(line.start, line.length);
}

std::string hexByte(unsigned char byte) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", byte);
    return text;
}

// A question or answer is printed as it stands: a tab shows as a gap up to the
// next tab stop, and a blank at either end indents it or pads it unseen (and
// makes it longer than it looks to a player who bets on length).
void checkTextBlanks(DatabaseScan& scan, long number, const std::string& text) {
    std::size_t tab = text.find('\t');
    if (tab != std::string::npos) {
        diagnose(scan.report, number, Severity::Warning, "tab",
                 "tab at column " + std::to_string(tab + 1) +
                     "; the game shows it as a wide gap, up to the next tab stop; use a blank");
    }
    if (text.find_first_not_of(" \t") == std::string::npos) return;  // an empty text, reported as such
    if (text.front() == ' ')
        diagnose(scan.report, number, Severity::Warning, "blank at an end",
                 "blank at the start; the game shows the text indented; remove it");
    if (text.back() == ' ')
        diagnose(scan.report, number, Severity::Warning, "blank at an end",
                 "blank at the end; the game prints it unseen, but it counts in the text's length; remove it");
}

// Reports the first byte of each faulty kind in the line, and its length.
void checkLineBytes(DatabaseScan& scan, long number, bool isUtf8) {
    std::string text = lineText(scan, number);
    bool hasLineFeed = static_cast<std::size_t>(number) < scan.lines.size() || endsWithLineFeed(scan.bytes);
    if (hasLineFeed && !text.empty() && text.back() == '\r') {
        text.pop_back();
        diagnose(scan.report, number, Severity::Warning, "CR LF line end",
                 "line ends with CR LF; the game drops the carriage return, but bare line feeds are the format");
    }
    bool seen[3] = {};
    for (std::size_t at = 0; at < text.size(); ++at) {
        unsigned char byte = static_cast<unsigned char>(text[at]);
        std::string column = std::to_string(at + 1);
        if (byte == '\r' && !seen[0]) {
            seen[0] = true;
            diagnose(scan.report, number, Severity::Error, "carriage return",
                     "carriage return at column " + column + "; the game prints it and the rest overwrites the line");
        } else if (byte == 0x98 && !isUtf8 && !seen[1]) {
            seen[1] = true;
            diagnose(scan.report, number, Severity::Error, "undefined byte",
                     "byte 0x98 at column " + column + " is not defined in Windows-1251");
        } else if (((byte < 0x20 && byte != '\t' && byte != '\r') || byte == 0x7F) && !seen[2]) {
            seen[2] = true;
            diagnose(scan.report, number, Severity::Error, "control byte",
                     "control byte " + hexByte(byte) + " at column " + column);
        }
    }
    if (number % kLinesPerRecord != 0) checkTextBlanks(scan, number, text);
    if (text.size() > static_cast<std::size_t>(kMaxLineLength)) {
        diagnose(scan.report, number, Severity::Error, "long line",
                 "line is " + std::to_string(text.size()) + " bytes; the game keeps only the first " +
                     std::to_string(kMaxLineLength));
    }
}

long lineOfFirstNonAscii(const std::string& bytes) {
    long line = 1;
    for (char byte : bytes) {
        if (static_cast<unsigned char>(byte) >= 0x80) break;
        if (byte == '\n') ++line;
    }
    return line;
}

void checkLines(DatabaseScan& scan) {
    bool isUtf8 = looksLikeUtf8(scan.bytes);
    if (isUtf8) {
        diagnose(scan.report, lineOfFirstNonAscii(scan.bytes), Severity::Error, "encoding",
                 "the file is UTF-8, not Windows-1251; the game would print its text garbled");
    }
    for (long number = 1; number <= static_cast<long>(scan.lines.size()); ++number)
        checkLineBytes(scan, number, isUtf8);
}

bool isBlankText(const char* text) {
    for (; *text != '\0'; ++text) {
        if (*text != ' ' && *text != '\t') return false;
    }
    return true;
}

void checkTexts(DatabaseScan& scan, long record, long firstLine) {
    const CurrentQuestion& question = runState.currentQuestion;
    if (isBlankText(question.questionText)) {
        diagnose(scan.report, firstLine, Severity::Error, "empty text",
                 "record " + std::to_string(record) + " has an empty question");
    } else {
        auto [earlier, added] = scan.questionRecords.emplace(normalisedText(question.questionText), record);
        if (!added) {
            diagnose(scan.report, firstLine, Severity::Error, "duplicate question",
                     "question " + quoteText(question.questionText, std::strlen(question.questionText)) +
                         " is the same as that of record " + std::to_string(earlier->second) + " (" +
                         lineName(scan.report, (earlier->second - 1) * kLinesPerRecord + 1) + ")");
        }
    }
    for (int answer = 0; answer < kAnswerCount; ++answer) {
        const char* text = question.answers[answer];
        long line = firstLine + 1 + answer;
        if (isBlankText(text)) {
            diagnose(scan.report, line, Severity::Error, "empty text",
                     "answer " + std::to_string(answer + 1) + " is empty");
            continue;
        }
        for (int other = 0; other < answer; ++other) {
            if (std::strcmp(text, question.answers[other]) != 0) continue;
            diagnose(scan.report, line, Severity::Warning, "same answers",
                     "answer " + std::to_string(answer + 1) + " is the same as answer " + std::to_string(other + 1));
        }
    }
}

// Two intellect questions offering the same four answers, in whatever order,
// let a player who has seen one narrow the other down.
void checkAnswerSet(DatabaseScan& scan, long record, long firstLine) {
    std::string answers[kAnswerCount];
    for (int answer = 0; answer < kAnswerCount; ++answer)
        answers[answer] = normalisedText(runState.currentQuestion.answers[answer]);
    std::sort(std::begin(answers), std::end(answers));
    std::string set;
    for (const std::string& answer : answers) set += answer + '\n';
    auto [earlier, added] = scan.answerSetRecords.emplace(set, record);
    if (added) return;
    long earlierLine = (earlier->second - 1) * kLinesPerRecord + 2;
    diagnose(scan.report, firstLine + 1, Severity::Warning, "same answer set",
             "record " + std::to_string(record) + " has the same four answers as record " +
                 std::to_string(earlier->second) + " (" +
                 lineName(scan.report, earlierLine, earlierLine + kAnswerCount - 1) + "); change one set");
}

// Warns about text after the key, which the game never reads.
void checkKeyRest(DatabaseScan& scan, long line, std::size_t keyEnd) {
    std::string key = lineText(scan, line);
    for (std::size_t at = keyEnd; at < key.size(); ++at) {
        if (key[at] == ' ' || key[at] == '\t' || key[at] == '\r') continue;
        diagnose(scan.report, line, Severity::Warning, "text after key",
                 "key line " + quoteText(key) + " goes on after the key; the game ignores the rest");
        return;
    }
}

void checkIntellectKey(DatabaseScan& scan, long record, long line) {
    std::int32_t answer = runState.correctAnswer;
    if (answer < 1 || answer > kAnswerCount) {
        diagnose(scan.report, line, Severity::Error, "intellect key",
                 "intellect key " + quoteText(lineText(scan, line)) +
                     " does not start with a digit 1 to 4; no answer can count as right");
        return;
    }
    checkKeyRest(scan, line, 1);
    if (record >= scan.passes) return;  // the game never asks it
    tallyIntellectKey(scan.balance, scan.report, record, line, answer);
    tallyCues(scan.cues, runState.currentQuestion, answer, record - kCharacterRecords - 1);
}

void checkCharacterKey(DatabaseScan& scan, long line) {
    int answersPerCategory[kCategoryCount + 1] = {};
    for (std::int32_t category : runState.answerCategory) {
        if (category < 1 || category > kCategoryCount) {
            diagnose(scan.report, line, Severity::Error, "character key",
                     "character key " + quoteText(lineText(scan, line)) +
                         " needs digits 1 to 4 at byte positions 0, 2, 4 and 6");
            return;
        }
        ++answersPerCategory[category];
    }
    checkKeyRest(scan, line, kLastKeyPosition + 1);
    tallyCharacterKey(scan.balance, runState.answerCategory, runState.currentQuestion);
    tallyAnswerWords(scan.giveaways, runState.currentQuestion, runState.answerCategory, line - kAnswerCount);
    for (int category = 1; category <= kCategoryCount; ++category) {
        if (answersPerCategory[category] == 1) continue;
        diagnose(scan.report, line, Severity::Warning, "key not a permutation",
                 "character key " + quoteText(lineText(scan, line)) + " is not a permutation of 1 2 3 4: category " +
                     std::to_string(category) + " gets " + std::to_string(answersPerCategory[category]) + " answers");
        return;
    }
}

// Loads every record in turn with the game's reader and checks it.
void checkRecords(DatabaseScan& scan) {
    ByteReader in(scan.bytes);
    for (long record = 1;; ++record) {
        TestKind kind = record <= kCharacterRecords ? TestKind::Character : TestKind::Intellect;
        if (!readQuestionRecord(in, 1, kind)) break;
        scan.records = record;
        long firstLine = (record - 1) * kLinesPerRecord + 1;
        checkTexts(scan, record, firstLine);
        long keyLine = firstLine + kLinesPerRecord - 1;
        if (kind == TestKind::Character) {
            checkCharacterKey(scan, keyLine);
        } else {
            checkAnswerSet(scan, record, firstLine);
            checkIntellectKey(scan, record, keyLine);
            if (scan.topics != nullptr)
                matchTopicLine(*scan.topics, record - kCharacterRecords - 1, runState.currentQuestion.questionText,
                               lineName(scan.report, firstLine));
        }
    }
    if (scan.topics != nullptr) {
        long intellectRecords = scan.records > kCharacterRecords ? scan.records - kCharacterRecords : 0;
        matchTopicCount(*scan.topics, intellectRecords, scan.report.path);
    }
}

void checkLayout(DatabaseScan& scan) {
    long lineCount = static_cast<long>(scan.lines.size());
    long leftOver = lineCount - scan.records * kLinesPerRecord;
    if (leftOver > 0) {
        diagnose(
            scan.report, scan.records * kLinesPerRecord + 1, Severity::Warning, "partial record",
            std::to_string(leftOver) + " line(s) after the last record do not make a record; the game ignores them");
    }
    if (endsWithLineFeed(scan.bytes)) return;
    std::string text = "last line has no line feed";
    if (leftOver == 0 && scan.records > kCharacterRecords) {
        text += "; the game counts one intellect question less and never asks record " + std::to_string(scan.records);
    }
    diagnose(scan.report, lineCount, Severity::Error, "final line feed", text);
}

// The game opens its database for reading only, and only a regular file.
bool opensLikeTheGame(const std::string& path) {
    platform::FileHandle file = platform::openForReading(path.c_str(), platform::Links::Follow);
    platform::closeFile(file);
    return file != platform::kNoFile;
}

void summarizeDatabase(DatabaseScan& scan, bool opens) {
    std::int32_t intellectCount = scan.passes - (kCharacterRecords + 1);
    bool enough = intellectCount >= kIntellectPerRun;
    if (!enough) {
        diagnose(scan.report, 0, Severity::Error, "too few questions",
                 "the game counts " + std::to_string(intellectCount) +
                     " intellect questions and refuses to start; a run needs " + std::to_string(kIntellectPerRun));
    }
    if (!opens) {
        diagnose(scan.report, 0, Severity::Error, "read-only",
                 "cannot be opened for writing; the game opens its database for reading and writing and would stop");
    }
    long characterRecords = scan.records < kCharacterRecords ? scan.records : kCharacterRecords;
    summarize(scan.report, "records: " + std::to_string(scan.records) + " (character " +
                               std::to_string(characterRecords) + ", intellect " +
                               std::to_string(scan.records - characterRecords) + ")");
    summarize(scan.report, "intellect questions by the game's count: " + std::to_string(intellectCount) + " (" +
                               std::to_string(scan.passes) + " passes - " + std::to_string(kCharacterRecords + 1) +
                               ")");
    summarizeKeyBalance(scan.balance, scan.report);
    summarizeCues(scan.cues, scan.report);
    summarize(scan.report, std::string("accepted by the game: ") + (enough && opens ? "yes" : "no"));
}

}  // namespace

void checkDatabase(FileReport& report, TopicList* topics) {
    std::string bytes;
    if (!readWholeFile(report, bytes)) return;
    checkDatabaseBytes(report, std::move(bytes), opensLikeTheGame(report.path), topics);
}

void checkDatabaseBytes(FileReport& report, std::string bytes, bool opens, TopicList* topics) {
    DatabaseScan scan{report, std::move(bytes)};
    scan.topics = topics;
    scan.lines = splitLines(scan.bytes);
    ByteReader counted(scan.bytes);
    scan.passes = countRecordPasses(counted);
    checkLines(scan);
    checkRecords(scan);
    reportKeyBalance(scan.balance, report);
    reportCues(scan.cues, topics, report);
    reportGiveaways(scan.giveaways, report);
    checkLayout(scan);
    summarizeDatabase(scan, opens);
}

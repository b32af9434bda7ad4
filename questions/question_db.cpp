// Reading the question database: the bounded line read, the start-up count of
// records and the loading of one record with its answer key.
#include "questions/question_db.h"

#include <cstdio>
#include <fstream>

namespace {

constexpr int kLinesPerRecord = 6;
constexpr int kCharacterKeyStride = 2;  // key digits at bytes 0, 2, 4 and 6

// The byte at position minus the code of '0', taken as a signed 8-bit value.
std::int32_t keyValueAt(const char* key, int length, int position) {
    if (position >= length) return kNoCategory;
    return static_cast<std::int32_t>(static_cast<signed char>(key[position])) - '0';
}

void applyKeyLine(const char* key, int length, TestKind kind) {
    if (kind == TestKind::Intellect) {
        runState.correctAnswer = static_cast<std::int32_t>(static_cast<signed char>(key[0])) - '0';
        return;
    }
    for (int answer = 0; answer < kAnswerCount; ++answer) {
        runState.answerCategory[answer] = keyValueAt(key, length, answer * kCharacterKeyStride);
    }
}

// Reads the five text lines of a record into CurrentQuestion, then the key line.
// Returns the key line's length, or -1 when the file ended before it.
int readRecordLines(DbLineReader& reader, char (&key)[kLineSize]) {
    CurrentQuestion& question = runState.currentQuestion;
    readDbLine(reader, question.questionText);
    for (auto& answer : question.answers) readDbLine(reader, answer);
    return readDbLine(reader, key);
}

// Opens the database for reading and writing, as the game always has.
bool openDatabase(std::fstream& file) {
    file.open(kDatabaseFile, std::ios::in | std::ios::out);
    if (file.is_open()) return true;
    std::fprintf(stderr, "prozorometr: cannot open %s for reading and writing\n", kDatabaseFile);
    return false;
}

}  // namespace

int readDbLine(DbLineReader& reader, char (&line)[kLineSize]) {
    line[0] = '\0';
    if (reader.atEnd) return -1;
    std::streambuf* source = reader.in->rdbuf();
    int stored = 0;
    long rawLength = 0;
    bool lastWasReturn = false;
    for (;;) {
        int byte = source->sbumpc();
        if (byte == std::char_traits<char>::eof()) {
            reader.atEnd = true;
            break;
        }
        if (byte == '\n') break;
        if (stored < kMaxLineLength) line[stored++] = static_cast<char>(byte);
        ++rawLength;
        lastWasReturn = byte == '\r';
    }
    // A carriage return right before the line feed belongs to the line end; one
    // beyond the kept part went with the excess already.
    if (lastWasReturn && !reader.atEnd && rawLength <= kMaxLineLength) --stored;
    line[stored] = '\0';
    bool nothingRead = reader.atEnd && rawLength == 0;
    return nothingRead ? -1 : stored;
}

std::int32_t countRecordPasses(std::istream& in) {
    DbLineReader reader{&in, false};
    char key[kLineSize];
    std::int32_t passes = 0;
    while (!reader.atEnd) {
        if (passes < INT32_MAX) ++passes;
        readRecordLines(reader, key);
    }
    return passes;
}

bool readQuestionRecord(std::istream& in, std::int32_t recordNumber, TestKind kind) {
    DbLineReader reader{&in, false};
    char key[kLineSize];
    for (std::int32_t record = 1; record <= recordNumber; ++record) {
        int keyLength = readRecordLines(reader, key);
        if (keyLength < 0) return false;  // never take a key from a line not read
        applyKeyLine(key, keyLength, kind);
    }
    return true;
}

bool countQuestions() {
    std::fstream file;
    if (!openDatabase(file)) return false;
    std::int32_t passes = countRecordPasses(file);
    runState.intellectQuestionCount = passes - (kCharacterRecords + 1);
    return true;
}

bool loadQuestionRecord(std::int32_t recordNumber, TestKind kind) {
    std::fstream file;
    if (!openDatabase(file)) return false;
    if (readQuestionRecord(file, recordNumber, kind)) return true;
    std::fprintf(stderr, "prozorometr: %s has no record %d\n", kDatabaseFile, static_cast<int>(recordNumber));
    return false;
}

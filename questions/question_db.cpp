// Reading the question database: the bounded line read, the start-up count of
// records and the loading of one record with its answer key. Line ends are found
// with memchr in large blocks; only the six lines of the wanted record are copied.
#include "questions/question_db.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace {


// The database's record starts, from the start-up count.
RecordIndex recordIndex;
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

// Opens the database for reading only: the game never writes it, so a read-only
// copy plays as well. Returns kNoFile after saying why on stderr.
platform::FileHandle openDatabase() {
    platform::FileHandle file = platform::openForReading(kDatabaseFile, platform::Links::Follow);
    if (file == platform::kNoFile) {
        std::fprintf(stderr, "prozorometr: cannot read %s: %s\n", kDatabaseFile, platform::lastErrorText());
    }
    return file;
}

bool reportReadFailure(platform::FileHandle file) {
    std::fprintf(stderr, "prozorometr: cannot read %s: %s\n", kDatabaseFile, platform::lastErrorText());
    platform::closeFile(file);
    return false;
}

// Lines and passes by the count rule: a last line without a line feed is a line,
// and the pass that meets the end of the file counts too.
std::int32_t passesForLines(std::int64_t lines, bool endsWithFeed) {
    std::int64_t passes = endsWithFeed ? lines / kLinesPerRecord + 1 : (lines + kLinesPerRecord - 1) / kLinesPerRecord;
    return passes > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(passes);
}

}  // namespace

int readDbLine(DbLineReader& reader, char (&line)[kLineSize]) {
    line[0] = '\0';
    if (reader.atEnd) return -1;
    int stored = 0;
    std::int64_t rawLength = 0;
    bool lastWasReturn = false;
    for (;;) {
        std::string_view bytes = reader.in->available();
        if (bytes.empty()) {
            reader.atEnd = true;
            break;
        }
        const char* feed = static_cast<const char*>(std::memchr(bytes.data(), '\n', bytes.size()));
        std::size_t length = feed != nullptr ? static_cast<std::size_t>(feed - bytes.data()) : bytes.size();
        std::size_t room = static_cast<std::size_t>(kMaxLineLength - stored);
        std::size_t kept = length < room ? length : room;
        std::memcpy(line + stored, bytes.data(), kept);
        stored += static_cast<int>(kept);
        rawLength += static_cast<std::int64_t>(length);
        if (length > 0) lastWasReturn = bytes[length - 1] == '\r';
        reader.in->consume(feed != nullptr ? length + 1 : length);
        if (feed != nullptr) break;
    }
    // A carriage return right before the line feed belongs to the line end; one
    // beyond the kept part went with the excess already.
    if (lastWasReturn && !reader.atEnd && rawLength <= kMaxLineLength) --stored;
    line[stored] = '\0';
    bool nothingRead = reader.atEnd && rawLength == 0;
    return nothingRead ? -1 : stored;
}

std::int32_t countRecordPasses(ByteReader& in, RecordIndex* index) {
    std::int64_t lines = 0;
    char last = '\n';  // an empty file ends as if with a line feed
    for (std::string_view bytes = in.available(); !bytes.empty(); bytes = in.available()) {
        std::int64_t feeds = std::count(bytes.begin(), bytes.end(), '\n');
        if (index != nullptr) noteRecordStarts(*index, bytes, in.offset(), lines, feeds);
        lines += feeds;
        last = bytes.back();
        in.consume(bytes.size());
    }
    if (last != '\n') ++lines;
    return passesForLines(lines, last == '\n');
}

bool readQuestionRecord(ByteReader& in, std::int32_t recordNumber, TestKind kind) {
    if (recordNumber < 1) return true;
    // Records before the wanted one would only be overwritten: their lines are
    // skipped, which leaves the same texts and keys.
    for (std::int64_t line = 0; line < std::int64_t{kLinesPerRecord} * (recordNumber - 1); ++line) {
        if (!in.skipLine()) return false;
    }
    DbLineReader reader{&in, false};
    char key[kLineSize];
    int keyLength = readRecordLines(reader, key);
    if (keyLength < 0) return false;  // never take a key from a line not read
    applyKeyLine(key, keyLength, kind);
    return true;
}

bool countQuestions() {
    platform::FileHandle file = openDatabase();
    if (file == platform::kNoFile) return false;
    clearIndex(recordIndex);
    platform::FileIdentity before;
    bool identified = platform::identifyFile(file, before);
    ByteReader in(file);
    std::int32_t passes = countRecordPasses(in, &recordIndex);
    if (in.failed()) return reportReadFailure(file);
    // An index of a file that changed while it was read would point anywhere.
    recordIndex.valid = identified && platform::identifyFile(file, recordIndex.file) && recordIndex.file == before;
    platform::closeFile(file);
    runState.intellectQuestionCount = passes - (kCharacterRecords + 1);
    return true;
}

bool loadQuestionRecord(std::int32_t recordNumber, TestKind kind) {
    platform::FileHandle file = openDatabase();
    if (file == platform::kNoFile) return false;
    std::int32_t first = 1;
    std::int64_t offset = 0;
    platform::FileIdentity now;
    if (recordIndex.valid && recordNumber >= 1 && platform::identifyFile(file, now) && now == recordIndex.file) {
        findNearestPlace(recordIndex, recordNumber, first, offset);
    }
    if (offset > 0 && !platform::seekTo(file, offset)) return reportReadFailure(file);
    ByteReader in(file);
    bool loaded = readQuestionRecord(in, recordNumber - first + 1, kind);
    if (in.failed()) return reportReadFailure(file);
    platform::closeFile(file);
    if (loaded) return true;
    std::fprintf(stderr, "prozorometr: %s has no record %d\n", kDatabaseFile, static_cast<int>(recordNumber));
    return false;
}

// The question database: six-line text records (question, four answers, key),
// records 1..25 for the character test and 26 onward for the intellect test.
// Every load opens the file anew; it reads from the first line, or from the
// nearest record start that the start-up count noted while the file is unchanged.
#pragma once

#include <cstdint>

#include "core/run_state.h"
#include "io/byte_reader.h"
#include "questions/record_index.h"

enum class TestKind { Intellect, Character };

// Longest line held whole; longer lines are cut to this and the rest skipped.
inline constexpr int kMaxLineLength = kLineSize - 1;
// A category value that selects no tally slot (a key byte beyond its line's end).
inline constexpr std::int32_t kNoCategory = -1;

// Reads database lines one at a time; remembers when the file has ended.
struct DbLineReader {
    ByteReader* in;
    bool atEnd;
};

// Reads one line into line (at most 249 bytes kept, a carriage return before the
// line feed dropped, the excess of a longer line read and discarded). Returns the
// length stored, or -1 when the file had ended before the line began.
int readDbLine(DbLineReader& reader, char (&line)[kLineSize]);

// Number of passes the start-up scan makes over the file: one per six lines
// read, the final one ending at the end of the file. With index, the starts of
// records are noted there on the way.
std::int32_t countRecordPasses(ByteReader& in, RecordIndex* index = nullptr);

// Reads record recordNumber, counted from where in stands, into CurrentQuestion
// and the key fields of the given test, which then hold what reading records 1
// to recordNumber in turn would leave there. Returns false when the file ends
// before that record's key line.
bool readQuestionRecord(ByteReader& in, std::int32_t recordNumber, TestKind kind);

// Scans the database and sets intellectQuestionCount. Returns false when the
// file cannot be opened or read, or is no regular file (a reason goes to stderr).
bool countQuestions();

// Loads record recordNumber (1 or more) into CurrentQuestion with its key.
// Returns false when the file cannot be opened or read, or holds no such record.
bool loadQuestionRecord(std::int32_t recordNumber, TestKind kind);

// The question database: six-line text records (question, four answers, key),
// records 1..25 for the character test and 26 onward for the intellect test.
// Every load opens the file anew and reads it from its first line.
#pragma once

#include <cstdint>
#include <istream>

#include "app/run_state.h"

enum class TestKind { Intellect, Character };

// Longest line held whole; longer lines are cut to this and the rest skipped.
inline constexpr int kMaxLineLength = kLineSize - 1;
// A category value that selects no tally slot (a key byte beyond its line's end).
inline constexpr std::int32_t kNoCategory = -1;

// Reads database lines one at a time; remembers when the file has ended.
struct DbLineReader {
    std::istream* in;
    bool atEnd;
};

// Reads one line into line (at most 249 bytes kept, a carriage return before the
// line feed dropped, the excess of a longer line read and discarded). Returns the
// length stored, or -1 when the file had ended before the line began.
int readDbLine(DbLineReader& reader, char (&line)[kLineSize]);

// Number of passes the start-up scan makes over the stream: one per six lines
// read, the final one ending at the end of the file.
std::int32_t countRecordPasses(std::istream& in);

// Reads records 1..recordNumber into CurrentQuestion and the key fields of the
// given test. Returns false when the stream ends before that record's key line.
bool readQuestionRecord(std::istream& in, std::int32_t recordNumber, TestKind kind);

// Scans the database and sets intellectQuestionCount. Returns false when the
// file cannot be opened for reading and writing (a reason goes to stderr).
bool countQuestions();

// Loads record recordNumber (1 or more) into CurrentQuestion with its key.
// Returns false when the file cannot be opened or holds no such record.
bool loadQuestionRecord(std::int32_t recordNumber, TestKind kind);

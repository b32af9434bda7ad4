// Records of the score file: six whitespace-separated fields per player (name,
// attempts, right and wrong totals, character and intellect labels). Any run of
// whitespace separates fields; the writer uses single blanks.
#pragma once

#include <cstdint>
#include <istream>
#include <ostream>

#include "app/run_state.h"

// Fields of one record: name, attempts, right, wrong, character and intellect labels.
inline constexpr int kScoreFields = 6;
// Longest number field read: "-2147483648" and room to spot longer ones.
inline constexpr int kMaxNumberLength = 15;

// True for the bytes that separate fields: blank, tab, line feed, vertical tab,
// form feed and carriage return.
bool isScoreWhitespace(int byte);

// Parses a number field of length bytes: an optional sign and decimal digits that
// fit 32 bits, as formatted extraction of an int takes them. Returns false for
// anything else, a field longer than kMaxNumberLength included.
bool parseScoreNumber(const char* text, long length, std::int32_t& value);

enum class RecordRead {
    Whole,    // six fields that fit the profile
    Damaged,  // six tokens that do not (not a 32-bit integer, a word too long)
    CutShort, // one to five tokens, then the end of the file
    None,     // nothing but whitespace before the end of the file
};

// Reads the next six tokens into profile. Anything but Whole leaves profile's
// fields unspecified, and such a record is never taken for a player's.
RecordRead readScoreRecord(std::istream& in, PlayerProfile& profile);

// Writes the six fields joined by single blanks, with no line break.
void writeScoreRecord(std::ostream& out, const PlayerProfile& profile);

// Copies the next count tokens of in to out joined by single blanks, as they
// stand, so that a record the game cannot read is carried over unchanged.
void copyTokens(std::istream& in, std::ostream& out, int count);

// Skips whitespace; returns false when the end of the stream follows it.
bool skipWhitespace(std::istream& in);

// True for a name the score file can store: one word of 1 to 23 bytes.
bool isStorableName(const char* name);

// Copies text into a field of the given size, cut to fit.
void copyField(char* field, int size, const char* text);

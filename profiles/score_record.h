// Records of the score file: six whitespace-separated fields per player (name,
// attempts, right and wrong totals, character and intellect labels). Any run of
// whitespace separates fields; the writer uses single blanks. Fields are bytes,
// never C strings: a NUL byte in a stored field is data that no field can hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/run_state.h"
#include "io/byte_reader.h"
#include "io/byte_writer.h"

// Fields of one record: name, attempts, right, wrong, character and intellect labels.
inline constexpr int kScoreFields = 6;
// Longest number field read: "-2147483648" and room to spot longer ones.
inline constexpr int kMaxNumberLength = 15;
// Bytes the fast readers want at hand: any record of the usual kind many times over.
inline constexpr std::size_t kRecordWindow = 4096;
// Longest whole record in the writer's form, line break before it included.
inline constexpr int kMaxWholeRecordLength =
    1 + (kNameSize - 1) + 3 * kMaxNumberLength + (kCharacterLabelSize - 1) + (kIntellectLabelSize - 1) + kScoreFields;

// True for the bytes that separate fields: blank, tab, line feed, vertical tab,
// form feed and carriage return.
bool isScoreWhitespace(int byte);

// Parses a number field of length bytes: an optional sign and decimal digits that
// fit 32 bits, as formatted extraction of an int takes them. Returns false for
// anything else, a field longer than kMaxNumberLength included.
bool parseScoreNumber(const char* text, long length, std::int32_t& value);

enum class RecordRead {
    Whole,    // six fields that fit the profile
    Damaged,  // six tokens that do not (not a 32-bit integer, a word too long, a NUL byte)
    CutShort, // one to five tokens, then the end of the file
    None,     // nothing but whitespace before the end of the file
};

// Reads the next six tokens into profile. Anything but Whole leaves profile's
// fields unspecified, and such a record is never taken for a player's. With echo,
// the tokens read are also written there as they stand, joined by single blanks.
RecordRead readScoreRecord(ByteReader& in, PlayerProfile& profile, ByteWriter* echo = nullptr);

// The tokens of one record that lies whole in the reader's window, as spans of
// it; they stay good until the reader is used again. Reading a record this way
// is the fast path: the streaming readScoreRecord is for the rare record that
// does not fit (a huge token, a long run of whitespace).
struct RecordTokens {
    std::string_view field[kScoreFields];
    int count;  // 0 when only whitespace was left; below 6 only at the end of the file
};

// Takes the next record when it lies whole in the reader's window and returns
// true; returns false, having read nothing, when it does not.
bool takeRecordTokens(ByteReader& in, RecordTokens& tokens);

// What readScoreRecord makes of the same bytes; profile is filled when Whole.
RecordRead checkRecordTokens(const RecordTokens& tokens, PlayerProfile& profile);

// Reads the next record as readScoreRecord does, the fast way where it lies
// whole in the reader's window.
RecordRead readNextRecord(ByteReader& in, PlayerProfile& profile);

// Writes the tokens as they stand, joined by single blanks.
void writeTokens(ByteWriter& out, const RecordTokens& tokens);

// Writes the six fields joined by single blanks, with no line break.
void writeScoreRecord(ByteWriter& out, const PlayerProfile& profile);

// Skips whitespace; returns false when the end of the file follows it.
bool skipWhitespace(ByteReader& in);

// True for a name the score file can store: one word of 1 to 23 bytes, no
// control bytes.
bool isStorableName(const char* name);

// True when name holds a byte below 0x20 or 0x7F.
bool hasControlByte(const char* name);

// Copies text into a field of the given size, cut to fit.
void copyField(char* field, int size, const char* text);

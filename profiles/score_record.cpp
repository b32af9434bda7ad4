// Reading and writing one score record. Words are read whole, however long, and
// refused when they do not fit their field, so no field is ever overrun.
#include "profiles/score_record.h"

#include <cstdint>
#include <cstring>

namespace {

// Reads one whitespace-free token, keeping at most size - 1 bytes. Returns the
// token's full length, or -1 when the stream holds no further token.
long readToken(std::istream& in, char* text, int size) {
    if (!skipWhitespace(in)) return -1;
    std::streambuf* source = in.rdbuf();
    long length = 0;
    for (int byte = source->sgetc(); byte != std::char_traits<char>::eof() && !isScoreWhitespace(byte);
         byte = source->snextc()) {
        if (length < size - 1) text[length] = static_cast<char>(byte);
        ++length;
    }
    text[length < size - 1 ? length : size - 1] = '\0';
    return length;
}

// Each field reader returns the token's length (-1 at the end of the stream)
// and says in fits whether the token is a valid value for its field.
long readWordField(std::istream& in, char* field, int size, bool& fits) {
    long length = readToken(in, field, size);
    fits = length < size;
    return length;
}

long readNumberField(std::istream& in, std::int32_t& value, bool& fits) {
    char number[kMaxNumberLength + 1];
    long length = readToken(in, number, kMaxNumberLength + 1);
    fits = length >= 0 && parseScoreNumber(number, length, value);
    return length;
}

long readField(std::istream& in, PlayerProfile& profile, int field, bool& fits) {
    switch (field) {
        case 0: return readWordField(in, profile.name, kNameSize, fits);
        case 1: return readNumberField(in, profile.attempts, fits);
        case 2: return readNumberField(in, profile.correctTotal, fits);
        case 3: return readNumberField(in, profile.wrongTotal, fits);
        case 4: return readWordField(in, profile.characterLabel, kCharacterLabelSize, fits);
        default: return readWordField(in, profile.intellectLabel, kIntellectLabelSize, fits);
    }
}

}  // namespace

bool isScoreWhitespace(int byte) {
    return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\v' || byte == '\f' || byte == '\r';
}

bool parseScoreNumber(const char* text, long length, std::int32_t& value) {
    if (length > kMaxNumberLength) return false;
    bool negative = length > 0 && text[0] == '-';
    long at = length > 0 && (text[0] == '-' || text[0] == '+') ? 1 : 0;
    if (at == length) return false;
    std::int64_t magnitude = 0;
    for (; at < length; ++at) {
        if (text[at] < '0' || text[at] > '9') return false;
        magnitude = magnitude * 10 + (text[at] - '0');
    }
    std::int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue > INT32_MAX || signedValue < INT32_MIN) return false;
    value = static_cast<std::int32_t>(signedValue);
    return true;
}

bool skipWhitespace(std::istream& in) {
    std::streambuf* source = in.rdbuf();
    int byte = source->sgetc();
    while (byte != std::char_traits<char>::eof() && isScoreWhitespace(byte)) byte = source->snextc();
    return byte != std::char_traits<char>::eof();
}

RecordRead readScoreRecord(std::istream& in, PlayerProfile& profile) {
    bool whole = true;
    for (int field = 0; field < kScoreFields; ++field) {
        bool fits = false;
        if (readField(in, profile, field, fits) < 0) return field == 0 ? RecordRead::None : RecordRead::CutShort;
        whole = whole && fits;
    }
    return whole ? RecordRead::Whole : RecordRead::Damaged;
}

void writeScoreRecord(std::ostream& out, const PlayerProfile& profile) {
    out << profile.name << ' ' << profile.attempts << ' ' << profile.correctTotal << ' ' << profile.wrongTotal
        << ' ' << profile.characterLabel << ' ' << profile.intellectLabel;
}

void copyTokens(std::istream& in, std::ostream& out, int count) {
    std::streambuf* source = in.rdbuf();
    for (int token = 0; token < count && skipWhitespace(in); ++token) {
        if (token > 0) out.put(' ');
        for (int byte = source->sgetc(); byte != std::char_traits<char>::eof() && !isScoreWhitespace(byte);
             byte = source->snextc()) {
            out.put(static_cast<char>(byte));
        }
    }
}

void copyField(char* field, int size, const char* text) {
    std::size_t length = std::strlen(text);
    std::size_t room = static_cast<std::size_t>(size - 1);
    if (length > room) length = room;
    std::memcpy(field, text, length);
    field[length] = '\0';
}

bool isStorableName(const char* name) {
    std::size_t length = std::strlen(name);
    if (length == 0 || length >= static_cast<std::size_t>(kNameSize)) return false;
    for (std::size_t at = 0; at < length; ++at) {
        if (isScoreWhitespace(static_cast<unsigned char>(name[at]))) return false;
    }
    return true;
}

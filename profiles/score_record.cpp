// Reading and writing one score record. Words are read whole, however long, and
// refused when they do not fit their field, so no field is ever overrun.
#include "profiles/score_record.h"

#include <charconv>
#include <cstdint>
#include <cstring>

#include "profiles/speed_paths.h"

namespace {

// A table, because the separator test runs for every byte of the score file.
struct ByteSet {
    bool has[256];
};

constexpr ByteSet makeWhitespaceSet() {
    ByteSet set{};
    for (char byte : {' ', '\t', '\n', '\v', '\f', '\r'}) set.has[static_cast<unsigned char>(byte)] = true;
    return set;
}

constexpr ByteSet kWhitespace = makeWhitespaceSet();

bool isSeparator(char byte) { return kWhitespace.has[static_cast<unsigned char>(byte)]; }

// Reads one whitespace-free token, keeping at most size - 1 bytes, and echoes it
// (after a blank unless it is a record's first). Returns the token's full length
// and says whether it holds a NUL byte, or returns -1 when no token is left.
long readToken(ByteReader& in, char* text, int size, bool& hasNul, ByteWriter* echo, bool first) {
    if (!skipWhitespace(in)) return -1;
    if (echo != nullptr && !first) echo->put(' ');
    long length = 0;
    hasNul = false;
    for (std::string_view bytes = in.available(); !bytes.empty(); bytes = in.available()) {
        std::size_t end = 0;
        while (end < bytes.size() && !isSeparator(bytes[end])) ++end;
        long room = size - 1 - length;
        if (room > 0) std::memcpy(text + length, bytes.data(), end < static_cast<std::size_t>(room) ? end : room);
        hasNul = hasNul || std::memchr(bytes.data(), '\0', end) != nullptr;
        if (echo != nullptr) echo->write(bytes.substr(0, end));
        length += static_cast<long>(end);
        in.consume(end);
        if (end < bytes.size()) break;
    }
    text[length < size - 1 ? length : size - 1] = '\0';
    return length;
}

struct FieldReader {
    ByteReader& in;
    ByteWriter* echo;
};

// Each field reader returns the token's length (-1 at the end of the file) and
// says in fits whether the token is a valid value for its field.
long readWordField(FieldReader& reader, char* field, int size, bool& fits, bool first = false) {
    bool hasNul = false;
    long length = readToken(reader.in, field, size, hasNul, reader.echo, first);
    fits = length < size && !hasNul;
    return length;
}

long readNumberField(FieldReader& reader, std::int32_t& value, bool& fits) {
    char number[kMaxNumberLength + 1];
    bool hasNul = false;
    long length = readToken(reader.in, number, kMaxNumberLength + 1, hasNul, reader.echo, false);
    fits = length >= 0 && parseScoreNumber(number, length, value);
    return length;
}

long readField(FieldReader& reader, PlayerProfile& profile, int field, bool& fits) {
    switch (field) {
        case 0: return readWordField(reader, profile.name, kNameSize, fits, true);
        case 1: return readNumberField(reader, profile.attempts, fits);
        case 2: return readNumberField(reader, profile.correctTotal, fits);
        case 3: return readNumberField(reader, profile.wrongTotal, fits);
        case 4: return readWordField(reader, profile.characterLabel, kCharacterLabelSize, fits);
        default: return readWordField(reader, profile.intellectLabel, kIntellectLabelSize, fits);
    }
}

// Bytes from at up to the first separator (or the end).
const char* tokenEnd(const char* at, const char* end) {
    while (at < end && !isSeparator(*at)) ++at;
    return at;
}

const char* separatorsEnd(const char* at, const char* end) {
    while (at < end && isSeparator(*at)) ++at;
    return at;
}

// Checks one word token against its field and copies it there when it fits.
bool fitWord(std::string_view token, char* field, int size) {
    if (token.size() >= static_cast<std::size_t>(size) || std::memchr(token.data(), '\0', token.size())) return false;
    std::memcpy(field, token.data(), token.size());
    field[token.size()] = '\0';
    return true;
}

void writeNumber(ByteWriter& out, std::int32_t value) {
    char digits[16];
    auto written = std::to_chars(digits, digits + sizeof digits, value);
    out.write(std::string_view(digits, static_cast<std::size_t>(written.ptr - digits)));
}

}  // namespace

bool isScoreWhitespace(int byte) { return byte >= 0 && byte < 256 && kWhitespace.has[byte]; }

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

bool skipWhitespace(ByteReader& in) {
    for (std::string_view bytes = in.available(); !bytes.empty(); bytes = in.available()) {
        std::size_t end = 0;
        while (end < bytes.size() && isSeparator(bytes[end])) ++end;
        in.consume(end);
        if (end < bytes.size()) return true;
    }
    return false;
}

RecordRead readScoreRecord(ByteReader& in, PlayerProfile& profile, ByteWriter* echo) {
    FieldReader reader{in, echo};
    bool whole = true;
    for (int field = 0; field < kScoreFields; ++field) {
        bool fits = false;
        if (readField(reader, profile, field, fits) < 0) return field == 0 ? RecordRead::None : RecordRead::CutShort;
        whole = whole && fits;
    }
    return whole ? RecordRead::Whole : RecordRead::Damaged;
}

bool takeRecordTokens(ByteReader& in, RecordTokens& tokens) {
    std::string_view window = in.window(kRecordWindow);
    bool lastWindow = in.reachesEnd();
    const char* at = window.data();
    const char* end = at + window.size();
    tokens.count = 0;
    for (int field = 0; field < kScoreFields; ++field) {
        at = separatorsEnd(at, end);
        if (at == end) break;
        const char* start = at;
        at = tokenEnd(at, end);
        if (at == end && !lastWindow) return false;  // the token may go on beyond the window
        tokens.field[field] = std::string_view(start, static_cast<std::size_t>(at - start));
        tokens.count = field + 1;
    }
    if (tokens.count < kScoreFields && !lastWindow) return false;
    in.consume(static_cast<std::size_t>(at - window.data()));
    return true;
}

RecordRead checkRecordTokens(const RecordTokens& tokens, PlayerProfile& profile) {
    if (tokens.count < kScoreFields) return tokens.count == 0 ? RecordRead::None : RecordRead::CutShort;
    const std::string_view* field = tokens.field;
    bool whole = fitWord(field[0], profile.name, kNameSize) &&
                 parseScoreNumber(field[1].data(), static_cast<long>(field[1].size()), profile.attempts) &&
                 parseScoreNumber(field[2].data(), static_cast<long>(field[2].size()), profile.correctTotal) &&
                 parseScoreNumber(field[3].data(), static_cast<long>(field[3].size()), profile.wrongTotal) &&
                 fitWord(field[4], profile.characterLabel, kCharacterLabelSize) &&
                 fitWord(field[5], profile.intellectLabel, kIntellectLabelSize);
    return whole ? RecordRead::Whole : RecordRead::Damaged;
}

RecordRead readNextRecord(ByteReader& in, PlayerProfile& profile) {
    RecordTokens tokens;
    if (!scoreSpeedPaths.wholeTokens || !takeRecordTokens(in, tokens)) return readScoreRecord(in, profile);
    return checkRecordTokens(tokens, profile);
}

void writeTokens(ByteWriter& out, const RecordTokens& tokens) {
    for (int field = 0; field < tokens.count; ++field) {
        if (field > 0) out.put(' ');
        out.write(tokens.field[field]);
    }
}

void writeScoreRecord(ByteWriter& out, const PlayerProfile& profile) {
    out.write(profile.name);
    out.put(' ');
    writeNumber(out, profile.attempts);
    out.put(' ');
    writeNumber(out, profile.correctTotal);
    out.put(' ');
    writeNumber(out, profile.wrongTotal);
    out.put(' ');
    out.write(profile.characterLabel);
    out.put(' ');
    out.write(profile.intellectLabel);
}

void copyField(char* field, int size, const char* text) {
    std::size_t length = std::strlen(text);
    std::size_t room = static_cast<std::size_t>(size - 1);
    if (length > room) length = room;
    std::memcpy(field, text, length);
    field[length] = '\0';
}

bool hasControlByte(const char* name) {
    for (const char* at = name; *at != '\0'; ++at) {
        if (static_cast<unsigned char>(*at) < 0x20 || *at == 0x7F) return true;
    }
    return false;
}

bool isStorableName(const char* name) {
    std::size_t length = std::strlen(name);
    if (length == 0 || length >= static_cast<std::size_t>(kNameSize)) return false;
    for (std::size_t at = 0; at < length; ++at) {
        if (isScoreWhitespace(static_cast<unsigned char>(name[at]))) return false;
    }
    return !hasControlByte(name);
}

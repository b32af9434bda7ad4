// Windows-1251 text. The program's Russian literals are written as UTF-8 in the
// source and turned into Windows-1251 bytes while compiling ("Привет"_cp); the same
// tables serve the build tools that convert the question bank at run time.
#pragma once

#include <cstddef>

namespace cp1251 {

// Unicode code points of the bytes 0x80 to 0xFF; 0 marks the one byte (0x98)
// that the code page leaves undefined.
inline constexpr char16_t kHighHalf[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0000, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};

// Returns the code point of a Windows-1251 byte, or -1 for the undefined byte.
constexpr long decodeByte(unsigned char byte) {
    if (byte < 0x80) return byte;
    char16_t point = kHighHalf[byte - 0x80];
    return point == 0 ? -1 : static_cast<long>(point);
}

// Returns the Windows-1251 byte of a code point, or -1 when the code page lacks it.
constexpr int encodePoint(unsigned long point) {
    if (point < 0x80) return static_cast<int>(point);
    for (int i = 0; i < 128; ++i) {
        if (kHighHalf[i] != 0 && kHighHalf[i] == point) return 0x80 + i;
    }
    return -1;
}

// Decodes the UTF-8 sequence at text[at]; returns its length in bytes, or 0 when
// it is malformed, overlong or cut short by the end of the text.
constexpr std::size_t decodeUtf8(const char* text, std::size_t size, std::size_t at,
                                 unsigned long& point) {
    unsigned char lead = static_cast<unsigned char>(text[at]);
    std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || (lead >= 0xF5) || at + length > size) return 0;
    point = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        unsigned char next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) return 0;
        point = (point << 6) | (next & 0x3F);
    }
    bool overlong = (length == 3 && point < 0x800) || (length == 4 && point < 0x10000);
    return overlong ? 0 : length;
}

// Converts UTF-8 text to Windows-1251 into out (room for size bytes is enough).
// Returns the number of bytes written, or -1 with badAt set to the offset of the
// first sequence that is malformed or has no Windows-1251 byte.
constexpr long fromUtf8(const char* text, std::size_t size, char* out, std::size_t& badAt) {
    long written = 0;
    for (std::size_t at = 0; at < size;) {
        unsigned long point = 0;
        std::size_t length = decodeUtf8(text, size, at, point);
        int byte = length == 0 ? -1 : encodePoint(point);
        if (byte < 0) {
            badAt = at;
            return -1;
        }
        out[written++] = static_cast<char>(byte);
        at += length;
    }
    return written;
}

// Not constexpr on purpose: reaching it while compiling a literal stops the build.
inline void literalHasCharacterMissingFromWindows1251() {}

// A UTF-8 string literal captured as a template argument.
template <std::size_t N>
struct Utf8Literal {
    char text[N] = {};
    consteval Utf8Literal(const char (&source)[N]) {
        for (std::size_t i = 0; i < N; ++i) text[i] = source[i];
    }
};

// The Windows-1251 bytes of one literal, zero-terminated, in static storage.
template <Utf8Literal Source>
struct Converted {
    static constexpr auto convert() {
        struct Bytes { char text[sizeof(Source.text)] = {}; } bytes;
        std::size_t badAt = 0;
        if (fromUtf8(Source.text, sizeof(Source.text) - 1, bytes.text, badAt) < 0) {
            literalHasCharacterMissingFromWindows1251();
        }
        return bytes;
    }
    static constexpr auto bytes = convert();
};

}  // namespace cp1251

// "Текст"_cp is the zero-terminated Windows-1251 form of a UTF-8 literal.
template <cp1251::Utf8Literal Source>
constexpr const char* operator""_cp() {
    return cp1251::Converted<Source>::bytes.text;
}

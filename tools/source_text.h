// How pzbank reads a question source as editors write it: with or without a
// UTF-8 byte order mark, with CR LF or LF line ends, with or without a line feed
// after the last line, and as Windows-1251 (Notepad's "ANSI" on a Russian
// Windows) where the text is not UTF-8.
#pragma once

#include <string>
#include <string_view>
#include <vector>

enum class SourceEncoding { Utf8, Windows1251, Utf16 };

struct SourceText {
    SourceEncoding encoding = SourceEncoding::Utf8;
    std::vector<std::string_view> lines = {};  // without their line ends; views into the bytes read
};

// Splits the bytes of a source into lines and tells their encoding. A byte order
// mark makes them UTF-8; otherwise they are Windows-1251 when most of their
// bytes beyond ASCII do not decode as UTF-8 (a few bad bytes in UTF-8 text stay
// errors of that text). UTF-16 is named, and then no lines are given.
SourceText splitSource(const std::string& bytes);

// The line in Windows-1251 bytes: as read from a Windows-1251 source, converted
// from a UTF-8 one. Returns false with badAt at the first byte that stands for
// no Windows-1251 character: 0x98, or a sequence that is malformed UTF-8 or
// has no Windows-1251 byte.
bool lineInWindows1251(SourceEncoding encoding, std::string_view line, std::string& converted, std::size_t& badAt);

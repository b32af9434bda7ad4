// Builds the question database from its readable sources: two UTF-8 files of
// six-line records (the 25 character questions, then the intellect questions),
// converted to Windows-1251 and joined. Any line the game could not read as
// written stops the build with a message naming the file and line.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/cp1251.h"
#include "core/run_state.h"
#include "questions/question_db.h"
#include "tools/read_file.h"

namespace {

constexpr int kLinesPerRecord = 6;

struct SourceFile {
    const char* path;
    std::string bytes;
    int errors = 0;
};

void reportError(SourceFile& source, long line, long column, const std::string& text) {
    if (column > 0) {
        std::fprintf(stderr, "%s:%ld:%ld: error: %s\n", source.path, line, column, text.c_str());
    } else if (line > 0) {
        std::fprintf(stderr, "%s:%ld: error: %s\n", source.path, line, text.c_str());
    } else {
        std::fprintf(stderr, "%s: error: %s\n", source.path, text.c_str());
    }
    ++source.errors;
}

// Column of a byte offset in UTF-8 text, counted in characters from 1.
long columnOf(const std::string& line, std::size_t offset) {
    long column = 1;
    for (std::size_t at = 0; at < offset; ++at) {
        if ((static_cast<unsigned char>(line[at]) & 0xC0) != 0x80) ++column;
    }
    return column;
}

// Why the sequence at badAt could not be converted.
std::string conversionFault(const std::string& line, std::size_t badAt) {
    unsigned long point = 0;
    char text[64];
    if (cp1251::decodeUtf8(line.data(), line.size(), badAt, point) == 0) {
        std::snprintf(text, sizeof text, "malformed UTF-8 (byte 0x%02X)", static_cast<unsigned char>(line[badAt]));
    } else {
        std::snprintf(text, sizeof text, "U+%04lX has no Windows-1251 byte", point);
    }
    return text;
}

// Converts one line (without its line feed) and appends it to out with a line feed.
void convertLine(SourceFile& source, long number, const std::string& line, std::string& out) {
    std::size_t carriageReturn = line.find('\r');
    if (carriageReturn != std::string::npos) {
        reportError(source, number, columnOf(line, carriageReturn), "carriage return; use bare line feeds");
        return;
    }
    std::string converted(line.size(), '\0');
    std::size_t badAt = 0;
    long length = cp1251::fromUtf8(line.data(), line.size(), converted.data(), badAt);
    if (length < 0) {
        reportError(source, number, columnOf(line, badAt), conversionFault(line, badAt));
        return;
    }
    if (length > kMaxLineLength) {
        reportError(source, number, 0,
                    "line is " + std::to_string(length) + " bytes in Windows-1251; the game keeps only " +
                        std::to_string(kMaxLineLength));
        return;
    }
    out.append(converted.data(), static_cast<std::size_t>(length));
    out.push_back('\n');
}

// Converts a whole source into out. Returns its number of lines.
long convertSource(SourceFile& source, std::string& out) {
    long lines = 0;
    std::size_t start = 0;
    while (start < source.bytes.size()) {
        std::size_t end = source.bytes.find('\n', start);
        ++lines;
        if (end == std::string::npos) {
            reportError(source, lines, 0, "last line has no line feed");
            end = source.bytes.size();
        }
        convertLine(source, lines, source.bytes.substr(start, end - start), out);
        start = end + 1;
    }
    return lines;
}

// Checks that the source is made of whole records, exactly wanted of them when
// wanted is positive.
void checkRecordCount(SourceFile& source, long lines, long wanted) {
    if (lines == 0) {
        reportError(source, 0, 0, "no records");
    } else if (lines % kLinesPerRecord != 0) {
        reportError(source, 0, 0, std::to_string(lines) + " lines do not make whole six-line records");
    } else if (wanted > 0 && lines / kLinesPerRecord != wanted) {
        reportError(source, 0, 0,
                    std::to_string(lines / kLinesPerRecord) + " records; the character questions must be exactly " +
                        std::to_string(wanted));
    }
}

// Reads the whole file. Returns false when it cannot be read.
bool readSource(SourceFile& source) {
    std::string reason;
    if (readFileBytes(source.path, source.bytes, reason)) return true;
    reportError(source, 0, 0, reason);
    return false;
}

// Writes the database next to its final place, then moves it there, so that a
// failed run never leaves a partial file under the final name.
bool writeDatabase(const char* path, const std::string& bytes) {
    std::string partial = std::string(path) + ".part";
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    std::error_code error;
    if (!out.fail()) std::filesystem::rename(partial, path, error);  // replaces an old database on Windows too
    if (!out.fail() && !error) return true;
    std::fprintf(stderr, "%s: error: cannot write\n", path);
    std::remove(partial.c_str());
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: pzbank OUT.db CHARACTER.txt INTELLECT.txt\n");
        return 2;
    }
    SourceFile character{argv[2], {}};
    SourceFile intellect{argv[3], {}};
    std::string database;
    if (readSource(character)) checkRecordCount(character, convertSource(character, database), kCharacterRecords);
    if (readSource(intellect)) checkRecordCount(intellect, convertSource(intellect, database), 0);
    if (character.errors + intellect.errors > 0) return 1;
    return writeDatabase(argv[1], database) ? 0 : 1;
}

// Builds a question database from readable sources: files of six-line records
// (question, four answers, key) in UTF-8 or Windows-1251, as any editor saves
// them (blank lines between records, blanks at lines' ends), converted to Windows-1251. A key of four digits makes a character
// question, one digit an intellect question; without character questions the
// shipped character test is used. Any line the game could not read as written
// stops the build with a message naming the file and line, and nothing is
// written; the checker's findings on the result are named at the sources' lines.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "core/cp1251.h"
#include "core/run_state.h"
#include "questions/question_db.h"
#include "tools/check.h"
#include "tools/read_file.h"
#include "tools/shipped_character.h"
#include "tools/source_records.h"
#include "tools/source_text.h"

namespace {


struct SourceFile {
    const char* path;
    std::string bytes;
    int errors = 0;
    SourceEncoding encoding = SourceEncoding::Utf8;
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

// Column of a byte offset in the source's line, counted in characters from 1.
long columnOf(const SourceFile& source, std::string_view line, std::size_t offset) {
    if (source.encoding == SourceEncoding::Windows1251) return static_cast<long>(offset) + 1;
    long column = 1;
    for (std::size_t at = 0; at < offset; ++at) {
        if ((static_cast<unsigned char>(line[at]) & 0xC0) != 0x80) ++column;
    }
    return column;
}

// Why the sequence at badAt could not be converted.
std::string conversionFault(std::string_view line, std::size_t badAt) {
    unsigned long point = 0;
    char text[64];
    if (cp1251::decodeUtf8(line.data(), line.size(), badAt, point) == 0) {
        std::snprintf(text, sizeof text, "malformed UTF-8 (byte 0x%02X)", static_cast<unsigned char>(line[badAt]));
    } else {
        std::snprintf(text, sizeof text, "U+%04lX has no Windows-1251 byte", point);
    }
    return text;
}

// The line in Windows-1251 bytes, or false with an error reported.
bool encodeLine(SourceFile& source, long number, std::string_view line, std::string& converted) {
    std::size_t badAt = 0;
    if (lineInWindows1251(source.encoding, line, converted, badAt)) return true;
    reportError(source, number, columnOf(source, line, badAt),
                source.encoding == SourceEncoding::Windows1251 ? "byte 0x98 is not defined in Windows-1251"
                                                               : conversionFault(line, badAt));
    return false;
}

// Converts one line (without its line end) and appends it to out with a line feed.
void convertLine(SourceFile& source, long number, std::string_view line, std::string& out) {
    std::size_t carriageReturn = line.find('\r');
    if (carriageReturn != std::string_view::npos) {
        reportError(source, number, columnOf(source, line, carriageReturn),
                    "carriage return inside the line; the game would print it and overwrite the line");
        return;
    }
    std::string converted;
    if (!encodeLine(source, number, line, converted)) return;
    long length = static_cast<long>(converted.size());
    if (length > kMaxLineLength) {
        reportError(source, number, 0,
                    "line is " + std::to_string(length) + " bytes in Windows-1251; the game keeps only " +
                        std::to_string(kMaxLineLength));
        return;
    }
    out += converted;
    out.push_back('\n');
}

// The sorted database: the character test first, then the intellect questions,
// with the source line each of their lines came from.
struct BankPart {
    std::string bytes;
    std::vector<LineOrigin> origins = {};
    long records() const { return static_cast<long>(origins.size()) / kLinesPerRecord; }
};
struct Bank {
    BankPart character;
    BankPart intellect;
};

// Converts one record's question and answers, adds its key in the database's
// form, and files it by its key; a record with a line the game could not read is left out.
void convertRecord(SourceFile& source, const SourceRecord& record, Bank& bank) {
    int errorsBefore = source.errors;
    std::string converted;
    for (int line = 0; line < kLinesPerRecord - 1; ++line) {
        convertLine(source, record.lineNumbers[line], record.lines[line], converted);
    }
    if (source.errors != errorsBefore) return;
    BankPart& part = isIntellectKey(record.key) ? bank.intellect : bank.character;
    part.bytes += converted + record.key + '\n';
    for (long line : record.lineNumbers) part.origins.push_back({source.path, line});
}

// Says how the source is read when that is not plain UTF-8; false when it cannot be.
bool noteEncoding(SourceFile& source) {
    if (source.encoding == SourceEncoding::Utf16) {
        reportError(source, 0, 0, "the file is UTF-16 (Notepad's \"Unicode\"); save it as UTF-8 or ANSI");
        return false;
    }
    if (source.encoding == SourceEncoding::Windows1251) {
        std::fprintf(stderr, "%s: note: not UTF-8, so read as Windows-1251 (Notepad's \"ANSI\" on a Russian "
                     "Windows)\n", source.path);
    }
    return true;
}

// Converts a whole source, record by record, into the bank; a source without a
// record, or with a line that breaks one, is an error.
void convertSource(SourceFile& source, Bank& bank) {
    SourceText text = splitSource(source.bytes);
    source.encoding = text.encoding;
    if (!noteEncoding(source)) return;
    std::vector<SourceFault> faults;
    std::vector<SourceRecord> records = gatherRecords(text.lines, faults);
    for (const SourceFault& fault : faults) reportError(source, fault.line, 0, fault.text);
    for (const SourceRecord& record : records) convertRecord(source, record, bank);
    if (records.empty() && faults.empty()) reportError(source, 0, 0, "no records");
}

// Checks that the bank makes a database the game can play: exactly 25 character
// questions and enough intellect questions for one game.
bool checkBankCounts(const Bank& bank) {
    if (bank.character.records() != kCharacterRecords) {
        std::fprintf(stderr, "pzbank: error: %ld character questions; a database needs exactly %d, or none to take "
                     "the shipped ones\n", bank.character.records(), kCharacterRecords);
        return false;
    }
    if (bank.intellect.records() < kIntellectPerRun) {
        std::fprintf(stderr, "pzbank: error: %ld intellect questions; a game asks %d, so at least that many are "
                     "needed\n", bank.intellect.records(), kIntellectPerRun);
        return false;
    }
    return true;
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


const char* const kUsage =
    "Usage: pzbank -o OUTPUT SOURCE...\n"
    "Builds a question database (pz2004.db) from sources of six-line records: a\n"
    "question, four answers and a key. A key of one digit 1-4 (the right answer)\n"
    "makes an intellect question; a key of four digits such as \"3 1 4 2\" (the\n"
    "character each answer counts for: 1 prudent, 2 ordinary, 3 eccentric,\n"
    "4 reckless) makes a character question. The sources need at least 25 intellect\n"
    "questions and exactly 25 character questions, or none: then the shipped\n"
    "character test is used. A source may be UTF-8, with or without a byte order\n"
    "mark, or Windows-1251 (\"ANSI\"), with LF or CR LF line ends. Blank lines may\n"
    "stand between records, and blanks at a line's end are dropped. Errors name the\n"
    "file, line and column; on an error nothing is written. The checker's warnings\n"
    "on the result (see pzcheck) are named at the sources' lines too.\n"
    "\n"
    "  -o OUTPUT    the database to write (replaced whole when the build succeeds)\n"
    "  -h, --help   show this help and exit\n"
    "  --version    show the version and exit\n";

// Reads and files every source; returns the number of errors met.
int convertSources(std::vector<SourceFile>& sources, Bank& bank) {
    int errors = 0;
    for (SourceFile& source : sources) {
        if (readSource(source)) convertSource(source, bank);
        errors += source.errors;
    }
    if (errors == 0 && bank.character.records() == 0) {
        SourceFile shipped{"(the shipped character test)", kShippedCharacter};
        convertSource(shipped, bank);
        errors += shipped.errors;
    }
    return errors;
}

// Runs the checker on the database about to be written, naming the sources'
// lines. Returns false when it found an error.
bool checkBank(const char* output, const Bank& bank, const std::string& database) {
    FileReport report{output};
    report.out = stderr;
    report.origins = bank.character.origins;
    report.origins.insert(report.origins.end(), bank.intellect.origins.begin(), bank.intellect.origins.end());
    checkDatabaseBytes(report, database, true);
    finishFindings(report);
    return report.errors == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("pzbank %s\n", PZ_VERSION);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (argc < 4 || std::strcmp(argv[1], "-o") != 0) {
        std::fprintf(stderr, "usage: pzbank -o OUTPUT SOURCE... (see pzbank --help)\n");
        return 2;
    }
    std::vector<SourceFile> sources;
    for (int at = 3; at < argc; ++at) sources.push_back(SourceFile{argv[at], {}});
    Bank bank;
    if (convertSources(sources, bank) > 0 || !checkBankCounts(bank)) return 1;
    std::string database = bank.character.bytes + bank.intellect.bytes;
    if (!checkBank(argv[2], bank, database)) return 1;
    return writeDatabase(argv[2], database) ? 0 : 1;
}

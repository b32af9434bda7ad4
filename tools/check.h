// The database and score-file checker: diagnostics in the form FILE:LINE:
// severity: text, one per line on standard output, and the checks themselves.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

enum class Severity { Error, Warning, Note };

// What has been said about one file. Every kind of finding is shown at most
// kShownPerKind times; the rest are counted and mentioned once at the end.
struct FileReport {
    std::string path;
    int errors = 0;
    int warnings = 0;
    std::map<std::string, int> foundByKind = {};
    std::vector<std::string> summary = {};
};

inline constexpr int kShownPerKind = 10;

// Records and prints one finding; line 0 means the file as a whole.
void diagnose(FileReport& report, long line, Severity severity, const std::string& kind, const std::string& text);

// Adds a line to the summary printed after the findings.
void summarize(FileReport& report, const std::string& text);

// Prints the counts of findings not shown, the summary and the file's verdict.
void finishReport(const FileReport& report);

// Windows-1251 bytes shown as UTF-8 in double quotes, control bytes and the
// undefined byte escaped as \xNN, cut after 48 characters.
std::string quoteText(const char* bytes, std::size_t size);
inline std::string quoteText(const std::string& bytes) { return quoteText(bytes.data(), bytes.size()); }

// part / whole as a percentage with one decimal, "0.0%" when whole is 0.
std::string percentOf(long part, long whole);

// Reads the whole file. Returns false (with an error in the report) when it
// cannot be opened or read.
bool readWholeFile(FileReport& report, std::string& bytes);

// Checks a question database the way the game reads it.
void checkDatabase(FileReport& report);

// Checks a score file the way the game reads it.
void checkScoreFile(FileReport& report);

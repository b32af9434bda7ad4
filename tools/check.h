// The database and score-file checker: diagnostics in the form FILE:LINE:
// severity: text, one per line on standard output, and the checks themselves.
#pragma once

#include <cstddef>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

enum class Severity { Error, Warning, Note };

// Where a line of the checked bytes was written, when they were built from other
// files (pzbank's sources): findings name that file and line, so the author sees
// where to mend.
struct LineOrigin {
    const char* path;
    long line;
};

// What has been said about one file. Every kind of finding is shown at most
// kShownPerKind times; the rest are counted and mentioned once at the end.
struct FileReport {
    std::string path;
    int errors = 0;
    int warnings = 0;
    std::map<std::string, int> foundByKind = {};
    std::vector<std::string> summary = {};
    std::vector<LineOrigin> origins = {};  // of lines 1, 2, ...; empty: the file's own lines
    std::FILE* out = stdout;
};

inline constexpr int kShownPerKind = 10;

// Records and prints one finding; line 0 means the file as a whole.
void diagnose(FileReport& report, long line, Severity severity, const std::string& kind, const std::string& text);

// How a finding's text names lines first to last (last 0: first alone) of the
// checked bytes: "line 7", "lines 7-10", or, with origins, "source.txt:7" and
// "source.txt:7-10".
std::string lineName(const FileReport& report, long first, long last = 0);

// Adds a line to the summary printed after the findings.
void summarize(FileReport& report, const std::string& text);

// Prints the counts of findings not shown.
void finishFindings(const FileReport& report);

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

struct TopicList;

// Checks a question database the way the game reads it; with topics, judges
// the blind rules over each group they name too, and reports in topics->report
// the lines that do not fit the database.
void checkDatabase(FileReport& report, TopicList* topics = nullptr);

// Checks the bytes of a question database not yet written (opens: whether the
// game could open it), as checkDatabase does.
void checkDatabaseBytes(FileReport& report, std::string bytes, bool opens, TopicList* topics = nullptr);

// Checks a score file the way the game reads it.
void checkScoreFile(FileReport& report);

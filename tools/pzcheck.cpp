// pzcheck: reads a question database and a score file with the game's own
// reading code and says, line by line, what the game will make of them.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "core/run_state.h"
#include "tools/check.h"
#include "tools/topics.h"

namespace {

constexpr int kClean = 0;
constexpr int kFindings = 1;
constexpr int kUsageError = 2;

const char kUsage[] =
    "usage: pzcheck [--db FILE [--topics FILE]] [--score FILE]\n"
    "\n"
    "Checks a question database and a score file as the game reads them and\n"
    "prints one finding per line as FILE:LINE: error|warning: text, then a summary.\n"
    "\n"
    "  --db FILE      check FILE as a question database\n"
    "  --topics FILE  judge the answer cues within each group FILE names as well:\n"
    "                 one line per intellect question of the database, in order,\n"
    "                 its topic; or tab-separated groups (topic, level...) and,\n"
    "                 last, the start of the question\n"
    "  --score FILE   check FILE as a score file\n"
    "  --help         print this text\n"
    "  --version      print the version\n"
    "\n"
    "Without options it checks pz2004.db and, when it exists, score.dat in the\n"
    "current directory; with options, only the files named.\n"
    "\n"
    "Exit status: 0 when every file checked is clean, 1 when any error or warning\n"
    "was found (warnings too: a clean file has none), 2 for a usage error.\n";

struct Request {
    std::string database;
    std::string topics;
    std::string scoreFile;
    bool scoreFileOptional = false;
};

int usageError(const char* text, const char* argument) {
    std::fprintf(stderr, "pzcheck: %s '%s'\n%s", text, argument, kUsage);
    return kUsageError;
}

// The request's file that an option names, or null for an unknown option.
std::string* fileOfOption(Request& request, const char* option) {
    if (std::strcmp(option, "--db") == 0) return &request.database;
    if (std::strcmp(option, "--topics") == 0) return &request.topics;
    if (std::strcmp(option, "--score") == 0) return &request.scoreFile;
    return nullptr;
}

// Fills request from the arguments. Returns -1 to go on, or the exit status.
int parseArguments(int argc, char** argv, Request& request) {
    for (int at = 1; at < argc; ++at) {
        const char* argument = argv[at];
        if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
            std::fputs(kUsage, stdout);
            return kClean;
        }
        if (std::strcmp(argument, "--version") == 0) {
            std::printf("pzcheck %s\n", PZ_VERSION);
            return kClean;
        }
        std::string* target = fileOfOption(request, argument);
        if (target == nullptr) return usageError("unknown argument", argument);
        if (at + 1 >= argc) return usageError("missing file after", argument);
        if (!target->empty()) return usageError("given twice:", argument);
        *target = argv[++at];
    }
    if (!request.topics.empty() && request.database.empty()) return usageError("no --db for", "--topics");
    if (argc > 1) return -1;
    request.database = kDatabaseFile;
    request.scoreFile = kScoreFile;
    request.scoreFileOptional = true;
    return -1;
}

bool exists(const std::string& path) { return std::ifstream(path).is_open(); }

bool isClean(const FileReport& report) { return report.errors == 0 && report.warnings == 0; }

// Runs one check and returns whether the file came out clean.
bool checkFile(const std::string& path, void (*check)(FileReport&)) {
    FileReport report{path};
    check(report);
    finishReport(report);
    return isClean(report);
}

// Checks the database, with its topics file when one is named (an unreadable
// one is reported, and the database checked without it). Returns whether both
// came out clean.
bool checkDatabaseFile(const Request& request) {
    if (request.topics.empty()) return checkFile(request.database, [](FileReport& report) { checkDatabase(report); });
    TopicList topics{FileReport{request.topics}};
    bool read = readTopics(topics);
    FileReport report{request.database};
    checkDatabase(report, read ? &topics : nullptr);
    finishReport(report);
    finishReport(topics.report);
    return isClean(report) && isClean(topics.report);
}

}  // namespace

int main(int argc, char** argv) {
    Request request;
    int status = parseArguments(argc, argv, request);
    if (status >= 0) return status;
    bool clean = true;
    if (!request.database.empty()) clean = checkDatabaseFile(request) && clean;
    if (request.scoreFileOptional && !exists(request.scoreFile)) {
        std::printf("%s: note: not found, not checked; the game needs it to exist (an empty file will do)\n",
                    request.scoreFile.c_str());
    } else if (!request.scoreFile.empty()) {
        clean = checkFile(request.scoreFile, checkScoreFile) && clean;
    }
    return clean ? kClean : kFindings;
}

// The answers to --help and --version, in plain ASCII English so that any
// terminal can show them, and the results table; every other argument is refused
// before a game starts.
#include "app/options.h"

#include <charconv>
#include <cstdio>
#include <cstring>

#include "app/scores_view.h"

#ifndef PZ_VERSION
#error "the build passes the project version as PZ_VERSION"
#endif

namespace {

const char* const kUsage =
    "Usage: prozorometr [-s | --scores[=N|=all] | --help | --version]\n"
    "\n"
    "Prozorometr-2004 is a humorous two-part test in Russian for one player at a\n"
    "console: 25 questions of intellect, then 10 of character, then a verdict.\n"
    "Without arguments it plays one game in the current folder, with these files:\n"
    "  pz2004.db     the questions, Windows-1251 text (must be readable)\n"
    "  score.dat     the players' profiles (must exist and be writable; may be empty)\n"
    "  ~pz2004.tmp   scratch space while score.dat is rewritten\n"
    "  ~pz2004.lck   the lock a game holds while it saves\n"
    "A returning player's profile is saved by replacing score.dat, so the folder\n"
    "must let the player do that (writable; if sticky, score.dat the player's).\n"
    "\n"
    "Players start it through prozorometr-play, which keeps a play folder with\n"
    "these files and runs the game under luit on terminals that do not show\n"
    "Windows-1251. The manual: man 6 prozorometr.\n"
    "\n"
    "  -s, --scores       show the best 30 players of score.dat and exit\n"
    "  --scores=N         show the best N players; --scores=all shows everyone\n"
    "  -h, --help         show this help and exit\n"
    "  --version          show the name and version and exit\n";

bool is(const char* argument, const char* option) { return std::strcmp(argument, option) == 0; }

constexpr std::size_t kDefaultScores = 30;
constexpr char kScoresOption[] = "--scores=";

// How many players --scores=COUNT asks for: a positive number, or 0 for "all".
// Returns false for anything else.
bool parseScoresCount(const char* count, std::size_t& limit) {
    if (is(count, "all")) {
        limit = 0;
        return true;
    }
    const char* end = count + std::strlen(count);
    auto [stop, error] = std::from_chars(count, end, limit);
    return error == std::errc() && stop == end && *count != '\0' && limit > 0;
}

// Shows the results table that the option asks for, or refuses a bad count.
int answerScores(const char* argument) {
    std::size_t limit = kDefaultScores;
    bool counted = std::strncmp(argument, kScoresOption, sizeof kScoresOption - 1) == 0;
    if (counted && !parseScoresCount(argument + sizeof kScoresOption - 1, limit)) {
        std::fprintf(stderr, "prozorometr: %s: give a number of players or 'all' (see prozorometr --help)\n",
                     argument);
        return 2;
    }
    return showScores(limit);
}

bool asksScores(const char* argument) {
    return is(argument, "-s") || is(argument, "--scores") ||
           std::strncmp(argument, kScoresOption, sizeof kScoresOption - 1) == 0;
}

// Exit status after printing to stdout: 1 when the text could not be written.
int finishOutput() { return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1; }

}  // namespace

int handleOptions(int argc, char** argv) {
    if (argc < 2) return kPlayGame;
    if (argc > 2) {
        std::fprintf(stderr, "prozorometr: unexpected argument '%s' (see prozorometr --help)\n", argv[2]);
        return 2;
    }
    if (is(argv[1], "--help") || is(argv[1], "-h")) {
        std::fputs(kUsage, stdout);
        return finishOutput();
    }
    if (asksScores(argv[1])) return answerScores(argv[1]);
    if (is(argv[1], "--version")) {
        std::printf("prozorometr %s\n", PZ_VERSION);
        return finishOutput();
    }
    std::fprintf(stderr, "prozorometr: unknown option '%s' (see prozorometr --help)\n", argv[1]);
    return 2;
}

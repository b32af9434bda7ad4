// Storing the player's profile at the end of a run. Writers in one folder are
// serialised by a lock on the question database, which the game never replaces.
// A rewrite is written whole to the temporary file, forced to disk, and only then
// put in the score file's place in one atomic step; any failure leaves the score
// file as it was and says so in one line on stderr.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "app/run_state.h"
#include "platform/platform.h"
#include "profiles/profile_store.h"
#include "profiles/score_record.h"

namespace {

bool reportUnsaved(const char* reason) {
    std::fprintf(stderr, "prozorometr: %s not saved: %s\n", kScoreFile, reason);
    return false;
}

// True when every record of the score file is complete, so that a record
// appended after them reads as its own. A missing file counts as complete.
bool endsWithWholeRecord() {
    std::ifstream file(kScoreFile);
    if (!file.is_open()) return true;
    PlayerProfile scratch;
    RecordRead read;
    do {
        read = readScoreRecord(file, scratch);
    } while (read == RecordRead::Whole || read == RecordRead::Damaged);
    return read == RecordRead::None;
}

bool appendProfile() {
    std::int64_t oldSize = platform::fileSize(kScoreFile);
    std::ofstream file(kScoreFile, std::ios::app);
    if (!file.is_open()) return reportUnsaved(std::strerror(errno));
    file << '\n';
    writeScoreRecord(file, runState.playerProfile);
    file.close();
    if (!file.fail() && platform::syncFile(kScoreFile)) return true;
    const char* reason = platform::lastErrorText();
    platform::truncateFile(kScoreFile, oldSize < 0 ? 0 : oldSize);
    return reportUnsaved(reason);
}

// Copies every record but the player's whole ones after the player's record,
// each on its own line. Records the game cannot read are carried over as they
// stand, so that no byte of another player's record is lost.
void copyOtherRecords(std::istream& in, std::ostream& out, const char* typedName) {
    PlayerProfile record;
    while (skipWhitespace(in)) {
        std::streampos start = in.tellg();
        RecordRead read = readScoreRecord(in, record);
        if (read == RecordRead::Whole) {
            if (std::strcmp(record.name, typedName) == 0) continue;
            out << '\n';
            writeScoreRecord(out, record);
            continue;
        }
        out << '\n';
        in.clear();
        in.seekg(start);
        copyTokens(in, out, kScoreFields);
    }
}

// Writes the new score file into the temporary file. Returns false on failure.
bool writeRewrite(const char* typedName) {
    std::ifstream old(kScoreFile);
    if (!old.is_open() && platform::fileSize(kScoreFile) >= 0) return reportUnsaved("cannot read it");
    std::ofstream temp(kTempFile, std::ios::trunc);
    if (!temp.is_open()) return reportUnsaved("cannot create the temporary file");
    writeScoreRecord(temp, runState.playerProfile);
    if (old.is_open()) copyOtherRecords(old, temp, typedName);
    temp.close();
    if (temp.fail() || old.bad()) return reportUnsaved("cannot write the temporary file");
    return true;
}

bool rewriteProfile(const char* typedName) {
    if (!writeRewrite(typedName)) return false;
    if (!platform::syncFile(kTempFile)) return reportUnsaved(platform::lastErrorText());
    if (!platform::replaceFile(kTempFile, kScoreFile)) return reportUnsaved(platform::lastErrorText());
    std::ofstream emptied(kTempFile, std::ios::trunc);  // the temporary file stays, empty
    return true;
}

}  // namespace

bool saveProfile(const char* typedName) {
    if (!isStorableName(typedName)) return true;  // nothing typed: nothing to store
    int lock = platform::lockFile(kDatabaseFile);
    if (lock < 0) std::fprintf(stderr, "prozorometr: cannot lock %s; saving unguarded\n", kDatabaseFile);
    bool append = runState.playerProfile.attempts == 1 && endsWithWholeRecord();
    bool saved = append ? appendProfile() : rewriteProfile(typedName);
    platform::unlockFile(lock);
    return saved;
}

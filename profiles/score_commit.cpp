// The save's commit (see score_commit.h): the lock, what games that lost it
// left, and the append; the rewrite way is score_rewrite's. Nothing is written
// through a name someone else may have planted: an append goes only into a
// regular file with one link.
#include "profiles/score_commit.h"

#include <cstring>
#include <vector>

#include "io/byte_reader.h"
#include "io/byte_writer.h"
#include "lock/failure_words.h"
#include "lock/save_safety.h"
#include "profiles/plain_run_ahead.h"
#include "profiles/save_rooms.h"
#include "profiles/score_record.h"
#include "profiles/score_rewrite.h"

namespace {

// An append that cannot be sure it landed tries again this many times.
constexpr int kAppendRounds = 4;

SaveOutcome saved() { return SaveOutcome{true, ""}; }
SaveOutcome unsaved(const std::string& why) { return SaveOutcome{false, why}; }

// True when every record of the file is complete, so that a record appended
// after them reads as its own, and none of the whole ones is the player's: one
// stored by another game of the same name since the lookup must be replaced, or
// the player would have two records.
bool appendable(platform::FileHandle file, const char* typedName) {
    ByteReader in(file);
    PlainRunAhead ahead(file, platform::sizeOf(file), typedName);
    PlayerProfile scratch;
    while (skipWhitespace(in)) {
        if (passPlainLines(in, typedName, &ahead)) continue;  // others' records
        RecordRead read = readNextRecord(in, scratch);
        if (read == RecordRead::CutShort) return false;
        if (read == RecordRead::Whole && std::strcmp(scratch.name, typedName) == 0) return false;
    }
    return !in.failed();
}

enum class Append { Done, Unsure, NotPossible, Failed };

// After the append: it reached the score file if the lock was this game's all
// along and the score file is still the file written to (a game that took over
// meanwhile may have put a new one in its place).
Append confirmAppend(platform::FileHandle file, const SaveLock& lock) {
    std::string why;
    bool sure = !saveSafety.confirmAppend ||
                (holdsSaveLock(lock, why) && platform::nameHoldsFile(kScoreFile, file));
    platform::closeFile(file);
    return sure ? Append::Done : Append::Unsure;
}

// Appends a line break and the record. NotPossible, with nothing written, when
// the score file is no single-link regular file this player may write, ends in a
// record cut short or holds the player's record already: the rewrite way then
// takes over.
Append appendRecord(const PlayerProfile& record, const char* typedName, const SaveLock& lock, std::string& why) {
    platform::FileHandle file = platform::openForAppend(kScoreFile);
    if (file == platform::kNoFile) return Append::NotPossible;
    std::int64_t oldSize = platform::sizeOf(file);
    if (oldSize < 0 || !appendable(file, typedName)) {
        platform::closeFile(file);
        return Append::NotPossible;
    }
    if (!checkLockBeforeCommit(lock, why)) {
        platform::closeFile(file);
        return Append::Failed;
    }
    ByteWriter out(file);
    out.put('\n');
    writeScoreRecord(out, record);
    if (out.flush() && platform::syncToDisk(file)) return confirmAppend(file, lock);
    why = withCause(platform::lastErrorText());
    platform::truncateTo(file, oldSize);
    platform::closeFile(file);
    return Append::Failed;
}

// Puts back a score file that a save left under its copy's name, saying so.
// Returns true when it did.
bool putBack(const SaveVoice& voice) {
    std::string copy = putBackLeftCopy();
    if (!copy.empty() && voice.putBack != nullptr) voice.putBack(copy.c_str());
    return !copy.empty();
}

// Under a lock just taken: a score file a save left under its copy's name goes
// back first; then what games that lost the lock or ended left goes: their
// copies are removed, the versions they replaced but did not check merged in.
void prepareFolder(const SaveLock& lock, const SaveVoice& voice) {
    putBack(voice);
    if (!saveSafety.clearLeftCopies) return;
    OwnNames own = ownNamesOf(lock.number);
    removeLeftCopies(own);
    std::vector<std::string> left = leftVersions(own);
    for (std::size_t i = 0; i < left.size(); ++i) mergeLeftVersion(left[i], static_cast<int>(i), lock);
}

bool takeLock(SaveLock& lock, const LockTimes& times, const SaveVoice& voice, std::string& why) {
    if (!takeSaveLock(lock, times, why, voice.waiting)) {
        why = "cannot lock " + std::string(kLockFile) + ": " + why;
        return false;
    }
    prepareFolder(lock, voice);
    return true;
}

SaveOutcome appendOrRewrite(const PlayerProfile& record, const char* typedName, const ScoreLookup& lookup,
                            SaveLock& lock, const LockTimes& times, const SaveVoice& voice) {
    std::string why;
    for (int round = 0; lookup.outcome != Lookup::Found && round < kAppendRounds; ++round) {
        Append append = appendRecord(record, typedName, lock, why);
        if (append == Append::Done) return saved();
        if (append == Append::Failed) return unsaved(why);
        if (append == Append::NotPossible) break;
        // Unsure: once the lock is this game's again, nobody else changes the file.
        releaseSaveLock(lock);
        if (!takeLock(lock, times, voice, why)) return unsaved(why);
        if (holdsRecord(record)) return saved();
    }
    SaveOutcome outcome = rewriteScoreFile(&record, typedName, &lookup, lock);
    if (outcome.saved) leaveEmptyTemporary();
    return outcome;
}

}  // namespace

SaveOutcome storeProfile(const PlayerProfile& record, const char* typedName, const ScoreLookup& lookup,
                         const LockTimes& times, const SaveVoice& voice) {
    if (!isStorableName(typedName)) return saved();  // nothing typed: nothing to store
    SaveLock lock;
    std::string why;
    if (!takeLock(lock, times, voice, why)) return unsaved(why);
    SaveOutcome outcome = appendOrRewrite(record, typedName, lookup, lock, times, voice);
    releaseSaveLock(lock);
    return outcome;
}

bool putBackScoreFile(const LockTimes& times, const SaveVoice& voice) {
    SaveLock lock;
    std::string why;
    if (!takeSaveLock(lock, times, why, voice.waiting)) return false;
    bool done = putBack(voice);
    releaseSaveLock(lock);
    return done;
}

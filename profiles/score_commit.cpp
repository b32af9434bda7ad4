// The save's commit (see score_commit.h). Nothing is written through a name
// someone else may have planted: an append goes only into a regular file with one
// link, and a rewrite into a copy created anew, forced to disk, closed and only
// then put in the score file's place in one atomic step.
#include "profiles/score_commit.h"

#include <cstring>

#include "io/byte_reader.h"
#include "io/byte_writer.h"
#include "lock/failure_words.h"
#include "lock/save_safety.h"
#include "profiles/plain_run_ahead.h"
#include "profiles/save_rooms.h"
#include "profiles/score_copy.h"
#include "profiles/score_merge.h"
#include "profiles/score_record.h"

namespace {

// A save that meets a changed score file again and again gives up after this many tries.
constexpr int kCommitRounds = 4;

SaveOutcome saved() { return SaveOutcome{true, ""}; }
SaveOutcome unsaved(const std::string& why) { return SaveOutcome{false, why}; }

// Right before the score file changes: a game stopped for long may have lost the
// lock to another that is saving now.
bool stillHolds(const SaveLock& lock, std::string& why) {
    return !saveSafety.checkLockBeforeCommit || holdsSaveLock(lock, why);
}

bool sameRecord(const PlayerProfile& a, const PlayerProfile& b) {
    return std::strcmp(a.name, b.name) == 0 && a.attempts == b.attempts && a.correctTotal == b.correctTotal &&
           a.wrongTotal == b.wrongTotal && std::strcmp(a.characterLabel, b.characterLabel) == 0 &&
           std::strcmp(a.intellectLabel, b.intellectLabel) == 0;
}

// True when the score file holds record whole.
bool holdsRecord(const PlayerProfile& record) {
    platform::FileHandle file = platform::openForReading(kScoreFile, platform::Links::Refuse);
    if (file == platform::kNoFile) return false;
    bool found = false;
    {
        ByteReader in(file);
        PlayerProfile stored;
        while (!found && skipWhitespace(in)) {
            found = readNextRecord(in, stored) == RecordRead::Whole && sameRecord(stored, record);
        }
    }
    platform::closeFile(file);
    return found;
}

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
    if (!stillHolds(lock, why)) {
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

// Writes the new score file into the copy: the record (where there is one), then
// the others of base, or, in a round that repairs, of base and current merged. Forced to disk, given
// base's owner, group and mode, and closed once its name is seen to hold it still
// (a member of the folder's group may have swapped it).
bool writeCopy(const std::string& name, const PlayerProfile* record, const char* typedName, platform::FileHandle base,
               platform::FileHandle current, const ScoreLookup* lookup, std::string& why) {
    platform::removeName(name.c_str());
    platform::FileHandle copy = platform::createExclusive(name.c_str(), platform::Sharing::OwnerOnly);
    if (copy == platform::kNoFile) {
        why = withCause("cannot create " + name + ": " + platform::lastErrorText());
        return false;
    }
    ByteWriter out(copy);
    if (record != nullptr) writeScoreRecord(out, *record);
    bool copied = base == platform::kNoFile ||
                  (current != platform::kNoFile ? mergeScoreVersions(base, current, out, typedName, why)
                                                : copyOtherRecords(base, out, copy, typedName, lookup, why));
    if (copied && !(out.flush() && platform::syncToDisk(copy))) {
        why = withCause("cannot write " + name + ": " + platform::lastErrorText());
        copied = false;
    }
    if (copied) platform::carryOwnership(copy, base);
    if (copied && !platform::nameHoldsFile(name.c_str(), copy)) {
        why = name + ": " + platform::lastErrorText();
        copied = false;
    }
    if (!platform::closeFile(copy) && copied) {
        why = withCause("cannot write " + name + ": " + platform::lastErrorText());
        copied = false;
    }
    if (!copied) platform::removeName(name.c_str());
    return copied;
}

// What a round of the rewrite makes its copy from: base, and in a round that
// repairs, current merged in; read is the version its commit must replace.
struct Sources {
    platform::FileHandle base = platform::kNoFile;
    platform::FileHandle current = platform::kNoFile;
    platform::FileIdentity read{};
    std::string merged;  // base's name, removed once it is merged into the copy
};

// Done; Failed; Replaced: the copy is in place, but it replaced another version
// than the one read (kept under a name of the game's own); Changed: the copy was not put in
// place, as score.dat is another version now; TakenOver: a game that took over
// the lock while this one was stopped took the copy too.
enum class Commit { Done, Replaced, Changed, TakenOver, Failed };

// The copy's rename failed. TakenOver: the copy is gone, taken by a game that
// took over the lock and merged it. Where the old score file still stands, it
// keeps every record; a score file that a share removed before failing leaves
// the copy the only one, so it is put in place again, or left for the next game
// to put back.
Commit reportFailedRename(const OwnNames& names, bool merged, std::string& why) {
    if (platform::lastFailure() == platform::Failure::Missing) return Commit::TakenOver;
    why = withCause(platform::lastErrorText());
    platform::removeName(names.replaced.c_str());
    if (platform::nameExists(kScoreFile)) {
        if (!merged) platform::removeName(names.complete.c_str());  // a merged copy stays, to be merged again
        return Commit::Failed;
    }
    for (int attempt = 0; attempt < 3; ++attempt) {
        platform::pauseMs(100);
        if (platform::replaceFile(names.complete.c_str(), kScoreFile)) return Commit::Done;
    }
    why += "; its new content waits in " + names.complete + ", which the next game puts back in its place";
    return Commit::Failed;
}

// True when the kept file is the version the copy was made from: the same file,
// unchanged. Where the file system shows a file's two names as two files (sshfs),
// its size and time stamp tell.
bool isVersionRead(const platform::NameLook& kept, const platform::FileIdentity& read) {
    bool sameFile = kept.identity.device == read.device && kept.identity.node == read.node;
    return kept.identity.size == read.size && kept.identity.modified == read.modified &&
           (sameFile || kept.links < 2);
}

// Where nothing can be kept: true when score.dat is no longer the version read,
// seen right before the rename, which leaves a window of two calls.
bool hasChanged(const platform::FileIdentity& read) {
    platform::NameLook look;
    return platform::lookAtName(kScoreFile, 0, look) && look.kind == platform::NameKind::Regular &&
           !isVersionRead(look, read);
}

// What the commit replaced, now under held: removed when it is the version the
// copy was made from; otherwise left there, to be merged in (also when it
// cannot be looked at: a merge of the same version changes nothing).
Commit checkReplaced(const std::string& held, const platform::FileIdentity& read) {
    platform::NameLook look;
    bool looked = platform::lookAtName(held.c_str(), 0, look);
    if (looked && look.kind == platform::NameKind::Absent) return Commit::Done;  // a game that took over read this one's copy
    if (!looked || !isVersionRead(look, read)) return Commit::Replaced;
    platform::removeName(held.c_str());
    return Commit::Done;
}

// Puts the whole copy in the score file's place, keeping what it replaces
// reachable until it is checked: swapped with it where the file system can swap
// two names, else kept by a hard link. Where it has neither, nothing is kept:
// only the lock then keeps other writers out.
Commit commitCopy(const OwnNames& names, const Sources& sources, const SaveLock& lock, std::string& held,
                  std::string& why) {
    const platform::FileIdentity& read = sources.read;
    if (!stillHolds(lock, why)) {
        // A copy that merged in what others wrote stays, for the lock's next holder to merge.
        if (sources.merged.empty()) platform::removeName(names.complete.c_str());
        return Commit::Failed;
    }
    held = names.complete;
    if (saveSafety.checkReplaced && platform::exchangeNames(names.complete.c_str(), kScoreFile)) {
        return checkReplaced(held, read);
    }
    held = names.replaced;
    bool kept = saveSafety.checkReplaced && platform::linkName(kScoreFile, names.replaced.c_str());
    if (!kept && saveSafety.checkReplaced && hasChanged(read)) {
        platform::removeName(names.complete.c_str());
        return Commit::Changed;
    }
    if (!platform::replaceFile(names.complete.c_str(), kScoreFile)) {
        return reportFailedRename(names, !sources.merged.empty(), why);
    }
    return kept ? checkReplaced(held, read) : Commit::Done;
}

platform::FileIdentity identityOf(platform::FileHandle file) {
    platform::FileIdentity identity{};
    if (file != platform::kNoFile) platform::identifyFile(file, identity);
    return identity;
}

// score.dat as it is now (none, where it is missing: the copy then holds the
// record alone). Returns false, with why saying so, when it cannot be read.
bool openScoreSource(Sources& sources, std::string& why) {
    sources = Sources{};
    sources.base = platform::openForReading(kScoreFile, platform::Links::Refuse);
    if (sources.base == platform::kNoFile && platform::nameExists(kScoreFile)) {
        why = withCause(platform::lastErrorText());
        return false;
    }
    sources.read = identityOf(sources.base);
    return true;
}

// After a commit that replaced another version than the one read: that one,
// under the name kept, merged with what is in place now. Left, when either
// cannot be read: the version stays under its name, and the lock's next holder
// merges it.
bool openMergeSources(const std::string& kept, Sources& sources) {
    sources = Sources{};
    sources.base = platform::openForReading(kept.c_str(), platform::Links::Refuse);
    if (sources.base == platform::kNoFile) return false;
    sources.merged = kept;
    sources.current = platform::openForReading(kScoreFile, platform::Links::Refuse);
    if (sources.current == platform::kNoFile) {
        platform::closeFile(sources.base);
        return false;
    }
    sources.read = identityOf(sources.current);
    return true;
}

// Writes the round's copy and, once it is whole, gives it its complete name.
bool writeRound(const PlayerProfile* record, const char* typedName, const Sources& sources, const ScoreLookup* lookup,
                const OwnNames& names, std::string& why) {
    bool written = writeCopy(names.building, record, typedName, sources.base, sources.current, lookup, why);
    platform::closeFile(sources.base);  // first: Windows replaces no file its own process holds open
    platform::closeFile(sources.current);
    if (written && platform::moveName(names.building.c_str(), names.complete.c_str())) {
        // The merged version goes once the copy that holds it is whole (where it
        // was the copy's own name, the copy took its place).
        if (!sources.merged.empty() && sources.merged != names.complete) platform::removeName(sources.merged.c_str());
        return true;
    }
    if (written) why = withCause(std::string("cannot rename the copy: ") + platform::lastErrorText());
    platform::removeName(names.building.c_str());
    return false;
}

// Writes rounds of copies from sources until one is in place as the version it
// was made from replaced: record first (where there is one), then the others.
SaveOutcome rewriteFrom(Sources sources, const PlayerProfile* record, const char* typedName,
                        const ScoreLookup* lookup, const SaveLock& lock) {
    OwnNames names = ownNamesOf(lock.number);
    std::string why;
    for (int round = 0; round < kCommitRounds; ++round) {
        if (!writeRound(record, typedName, sources, round == 0 ? lookup : nullptr, names, why)) return unsaved(why);
        std::string held;
        Commit commit = commitCopy(names, sources, lock, held, why);
        if (commit == Commit::Done) return saved();
        if (commit == Commit::Failed) return unsaved(why);
        if (commit == Commit::TakenOver) {
            if (record != nullptr && holdsRecord(*record)) return saved();  // merged by the game that took it
            return unsaved("another game took over the lock while this one was stopped");
        }
        if (commit == Commit::Changed) {  // made anew from the version there now
            if (!openScoreSource(sources, why)) return unsaved(why);
            continue;
        }
        if (!openMergeSources(held, sources)) return saved();  // the record is in place; the rest is merged later
    }
    return unsaved(std::string(kScoreFile) + " kept changing while this game saved");
}

SaveOutcome rewriteRecord(const PlayerProfile& record, const char* typedName, const ScoreLookup& lookup,
                          const SaveLock& lock) {
    Sources sources;
    std::string why;
    if (!openScoreSource(sources, why)) return unsaved(why);
    return rewriteFrom(sources, &record, typedName, &lookup, lock);
}

// Under a lock just taken: a score file a save left under its copy's name goes
// back first; then what games that lost the lock or ended left goes: copies cut
// short are removed, whole versions merged in.
void prepareFolder(const SaveLock& lock, const SaveVoice& voice) {
    std::string putBack = putBackLeftCopy();
    if (!putBack.empty() && voice.putBack != nullptr) voice.putBack(putBack.c_str());
    if (!saveSafety.clearLeftCopies) return;
    OwnNames own = ownNamesOf(lock.number);
    removePartCopies(own);
    for (const std::string& left : leftVersions(own)) {
        Sources sources;
        if (openMergeSources(left, sources)) rewriteFrom(sources, nullptr, "", nullptr, lock);
    }
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
    for (int round = 0; lookup.outcome != Lookup::Found && round < kCommitRounds; ++round) {
        Append append = appendRecord(record, typedName, lock, why);
        if (append == Append::Done) return saved();
        if (append == Append::Failed) return unsaved(why);
        if (append == Append::NotPossible) break;
        // Unsure: once the lock is this game's again, nobody else changes the file.
        releaseSaveLock(lock);
        if (!takeLock(lock, times, voice, why)) return unsaved(why);
        if (holdsRecord(record)) return saved();
    }
    SaveOutcome outcome = rewriteRecord(record, typedName, lookup, lock);
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
    std::string putBack = putBackLeftCopy();
    if (!putBack.empty() && voice.putBack != nullptr) voice.putBack(putBack.c_str());
    releaseSaveLock(lock);
    return !putBack.empty();
}

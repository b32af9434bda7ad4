// The rewrite way (see score_rewrite.h). Each round writes its copy under
// ~pz2004.tmp.N, names it ~pz2004.new.N once whole, and commits it: renamed over
// score.dat, with the old one kept by a hard link under ~pz2004.old.N until it
// is checked; where the file system has no links, score.dat is looked at right
// before the rename instead.
#include "profiles/score_rewrite.h"

#include <cstring>

#include "io/byte_reader.h"
#include "io/byte_writer.h"
#include "lock/failure_words.h"
#include "lock/save_safety.h"
#include "profiles/save_rooms.h"
#include "profiles/score_copy.h"
#include "profiles/score_merge.h"
#include "profiles/score_record.h"

namespace {

// A save that meets a changed score file again and again gives up after this many rounds.
constexpr int kRounds = 4;

SaveOutcome saved() { return SaveOutcome{true, ""}; }
SaveOutcome unsaved(const std::string& why) { return SaveOutcome{false, why}; }

// Writes the new score file into the copy: the record (where there is one), then
// the others of base, or, in a round that repairs, of base and current merged. Forced to disk, given
// base's owner, group and mode, and closed once its name is seen to hold it still
// (a member of the folder's group may have swapped it).
bool writeCopy(const std::string& name, const PlayerProfile* record, const char* typedName, platform::FileHandle base,
               platform::FileHandle current, const ScoreLookup* lookup, platform::FileIdentity& made,
               std::string& why) {
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
    if (copied && !platform::identifyFile(copy, made)) {
        why = withCause("cannot write " + name + ": " + platform::lastErrorText());
        copied = false;
    }
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

// What a round makes its copy from: base, and in a round that merges, current
// too; read is the version its commit must replace. merged names base where it
// is a replaced version: it goes once the copy holding it is in place.
struct Sources {
    platform::FileHandle base = platform::kNoFile;
    platform::FileHandle current = platform::kNoFile;
    platform::FileIdentity read{};
    std::string merged;
    platform::FileIdentity made{};  // the copy written from them
};

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

// A replaced version, under kept, to be merged with score.dat as it is now.
// False when either cannot be read: the version then stays under its name, and
// the lock's next holder merges it.
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
bool writeRound(const PlayerProfile* record, const char* typedName, Sources& sources, const ScoreLookup* lookup,
                const OwnNames& names, std::string& why) {
    bool written =
        writeCopy(names.building, record, typedName, sources.base, sources.current, lookup, sources.made, why);
    platform::closeFile(sources.base);  // first: Windows replaces no file its own process holds open
    platform::closeFile(sources.current);
    if (written && platform::moveName(names.building.c_str(), names.complete.c_str())) return true;
    if (written) why = withCause(std::string("cannot rename the copy: ") + platform::lastErrorText());
    platform::removeName(names.building.c_str());
    return false;
}

// Done; Failed; Replaced: the copy is in place, but it replaced another version
// than the one read, kept under the round's name; Changed: the copy was not put
// in place, as score.dat is another version now; TakenOver: a game that took
// over the lock while this one was stopped removed the copy.
enum class Commit { Done, Replaced, Changed, TakenOver, Failed };

// True when the kept file is the version the copy was made from: the same file,
// unchanged. Where the file system shows a file's two names as two files (sshfs),
// its size and time stamp tell.
bool isVersionRead(const platform::NameLook& kept, const platform::FileIdentity& read) {
    bool sameFile = kept.identity.device == read.device && kept.identity.node == read.node;
    return kept.identity.size == read.size && kept.identity.modified == read.modified &&
           (sameFile || kept.links < 2);
}

// What the commit replaced, now under kept: removed when it is the version the
// copy was made from; otherwise left there, to be merged in (also when it cannot
// be looked at: a merge of the same version changes nothing).
Commit checkReplaced(const std::string& kept, const platform::FileIdentity& read) {
    platform::NameLook look;
    bool looked = platform::lookAtName(kept.c_str(), 0, look);
    if (looked && look.kind == platform::NameKind::Absent) return Commit::Done;  // merged by a game that took over
    if (!looked || !isVersionRead(look, read)) return Commit::Replaced;
    platform::removeName(kept.c_str());
    return Commit::Done;
}

// Where nothing can be kept: true when score.dat is no longer the version read,
// seen right before the rename, which leaves a window of two calls. It is
// opened, not looked at: a share's client may show an old view of a name. Where
// it cannot be seen, the round starts again.
bool hasChanged(const platform::FileIdentity& read) {
    platform::FileHandle now = platform::openForReading(kScoreFile, platform::Links::Refuse);
    if (now == platform::kNoFile) return platform::lastFailure() != platform::Failure::Missing;  // unseen: made anew
    platform::FileIdentity identity{};
    bool changed = !platform::identifyFile(now, identity) || !(identity == read);
    platform::closeFile(now);
    return changed;
}

// True when score.dat is the copy made: a share may lose the reply to a rename
// it made.
bool copyInPlace(const platform::FileIdentity& made) {
    platform::NameLook look;
    return platform::lookAtName(kScoreFile, 0, look) && look.kind == platform::NameKind::Regular &&
           isVersionRead(look, made);
}

// The copy's rename failed. Where the old score file still stands, it keeps every
// record; a score file that a share removed before failing leaves the copy the
// only one, so it is put in place again, or left for the next game to put back.
Commit reportFailedRename(const std::string& complete, const std::string& kept, const Sources& sources,
                          std::string& why) {
    bool takenOver = platform::lastFailure() == platform::Failure::Missing;
    bool merging = !sources.merged.empty();
    if (!takenOver && copyInPlace(sources.made)) return Commit::Done;
    why = withCause(platform::lastErrorText());
    platform::removeName(kept.c_str());
    if (takenOver) return Commit::TakenOver;
    platform::NameLook look;
    if (!platform::lookAtName(kScoreFile, 0, look)) return Commit::Failed;  // unseen: the copy stays, just in case
    if (look.kind != platform::NameKind::Absent) {
        if (!merging) platform::removeName(complete.c_str());
        return Commit::Failed;
    }
    for (int attempt = 0; attempt < 3; ++attempt) {
        platform::pauseMs(100);
        if (platform::replaceFile(complete.c_str(), kScoreFile)) return Commit::Done;
    }
    why += "; its new content waits in " + complete + ", which the next game puts back in its place";
    return Commit::Failed;
}

// Puts the whole copy in the score file's place, keeping what it replaces
// reachable by a hard link until it is checked. A copy that merged in what
// others wrote is never removed on failure: the lock's next holder finds the
// version it merged still under its name.
Commit commitCopy(const std::string& complete, const std::string& kept, const Sources& sources,
                  const SaveLock& lock, std::string& why) {
    if (!checkLockBeforeCommit(lock, why)) {
        if (sources.merged.empty()) platform::removeName(complete.c_str());
        return Commit::Failed;
    }
    bool linked = saveSafety.checkReplaced && platform::linkName(kScoreFile, kept.c_str());
    if (!linked && saveSafety.checkReplaced && hasChanged(sources.read)) {
        platform::removeName(complete.c_str());
        return Commit::Changed;
    }
    if (!platform::replaceFile(complete.c_str(), kScoreFile)) {
        Commit failed = reportFailedRename(complete, kept, sources, why);
        if (failed != Commit::Done) return failed;
    }
    return linked ? checkReplaced(kept, sources.read) : Commit::Done;
}

// Where the round's commit leaves the sources of the next one: false when there
// is no next round (saved holds the outcome).
bool nextSources(Commit commit, const std::string& kept, const PlayerProfile* record, Sources& sources,
                 SaveOutcome& outcome) {
    std::string why;
    if ((commit == Commit::Done || commit == Commit::Replaced) && !sources.merged.empty()) {
        platform::removeName(sources.merged.c_str());  // in score.dat now, with the copy that merged it
    }
    switch (commit) {
        case Commit::Done: outcome = saved(); return false;
        case Commit::Failed: return false;
        case Commit::TakenOver:
            outcome = record != nullptr && holdsRecord(*record)
                          ? saved()  // merged by the game that took the copy
                          : unsaved("another game took over the lock while this one was stopped");
            return false;
        case Commit::Changed:
            if (!sources.merged.empty()) return openMergeSources(sources.merged, sources) || (outcome = saved(), false);
            if (openScoreSource(sources, why)) return true;
            outcome = unsaved(why);
            return false;
        case Commit::Replaced:
            if (openMergeSources(kept, sources)) return true;
            outcome = saved();  // the record is in place; the version replaced is merged later
            return false;
    }
    return false;
}

// Writes rounds of copies from sources until one is in place as the version it
// was made from replaced: record first (where there is one), then the others.
SaveOutcome rewriteFrom(Sources sources, const PlayerProfile* record, const char* typedName,
                        const ScoreLookup* lookup, const OwnNames& names, const SaveLock& lock) {
    for (int round = 0; round < kRounds; ++round) {
        SaveOutcome outcome = unsaved("");
        if (!writeRound(record, typedName, sources, round == 0 ? lookup : nullptr, names, outcome.why)) return outcome;
        std::string kept = replacedName(names, round);
        Commit commit = commitCopy(names.complete, kept, sources, lock, outcome.why);
        if (!nextSources(commit, kept, record, sources, outcome)) return outcome;
    }
    return unsaved(std::string(kScoreFile) + " kept changing while this game saved");
}

bool sameRecord(const PlayerProfile& a, const PlayerProfile& b) {
    return std::strcmp(a.name, b.name) == 0 && a.attempts == b.attempts && a.correctTotal == b.correctTotal &&
           a.wrongTotal == b.wrongTotal && std::strcmp(a.characterLabel, b.characterLabel) == 0 &&
           std::strcmp(a.intellectLabel, b.intellectLabel) == 0;
}

}  // namespace

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

SaveOutcome rewriteScoreFile(const PlayerProfile* record, const char* typedName, const ScoreLookup* lookup,
                             const SaveLock& lock) {
    Sources sources;
    std::string why;
    if (!openScoreSource(sources, why)) return unsaved(why);
    return rewriteFrom(sources, record, typedName, lookup, ownNamesOf(lock.number), lock);
}

// Under names of their own, so that what a merge that failed leaves is never taken
// for this game's own save's.
void mergeLeftVersion(const std::string& left, int index, const SaveLock& lock) {
    Sources sources;
    OwnNames names = ownNamesOf(lock.number + "." + std::to_string(index));
    if (openMergeSources(left, sources)) rewriteFrom(sources, nullptr, "", nullptr, names, lock);
}

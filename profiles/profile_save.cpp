// Storing the player's profile at the end of a run. Every save takes the folder's
// writers' lock, ~pz2004.lck, and checks that it still holds it right before it
// changes the score file. Nothing is written through a name someone else may
// have planted: an append goes only into a regular file with one link, and a
// rewrite goes into a private temporary file created anew, forced to disk, closed
// and only then put in the score file's place in one atomic step. Any failure
// leaves every record: the score file as it was (or, where a share removed it
// before failing, its new content under the temporary name, which the next game
// puts back), and one line on stderr that says why.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/run_state.h"
#include "io/byte_reader.h"
#include "io/byte_writer.h"
#include "platform/platform.h"
#include "profiles/plain_line.h"
#include "profiles/plain_run_ahead.h"
#include "profiles/failure_words.h"
#include "profiles/profile_store.h"
#include "profiles/save_lock.h"
#include "profiles/score_record.h"
#include "profiles/speed_paths.h"

namespace {

bool reportUnsaved(const std::string& reason) {
    std::fprintf(stderr, "prozorometr: %s not saved: %s\n", kScoreFile, reason.c_str());
    return false;
}

// Right before the score file changes: a game stopped for long may have lost the
// lock to another that is saving now.
bool stillHolds(const SaveLock& lock) {
    return holdsSaveLock(lock) ||
           reportUnsaved("another game took over the lock while this one was stopped; " + std::string(kScoreFile) +
                         " is left to it");
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

enum class Append { Done, NotPossible, Failed };

// Appends a line break and the record. NotPossible, with nothing written, when
// the score file is no single-link regular file this player may write, ends in a
// record cut short or holds the player's record already; the rewrite way then
// takes over.
Append appendProfile(const char* typedName, const SaveLock& lock) {
    platform::FileHandle file = platform::openForAppend(kScoreFile);
    if (file == platform::kNoFile) return Append::NotPossible;
    std::int64_t oldSize = platform::sizeOf(file);
    if (oldSize < 0 || !appendable(file, typedName)) {
        platform::closeFile(file);
        return Append::NotPossible;
    }
    if (!stillHolds(lock)) {
        platform::closeFile(file);
        return Append::Failed;
    }
    ByteWriter out(file);
    out.put('\n');
    writeScoreRecord(out, runState.playerProfile);
    if (out.flush() && platform::syncToDisk(file) && platform::closeFile(file)) return Append::Done;
    std::string reason = withCause(platform::lastErrorText());
    platform::truncateTo(file, oldSize);
    platform::closeFile(file);
    reportUnsaved(reason);
    return Append::Failed;
}

// Copies a record the fast way: the tokens are at hand, so a whole record is
// written in the writer's form, and one the game cannot read as its tokens stood.
// (Lines already in the writer's form never get here: takePlainLines took them.)
void copyRecordTokens(const RecordTokens& tokens, ByteWriter& out, const char* typedName) {
    PlayerProfile record;
    bool whole = checkRecordTokens(tokens, record) == RecordRead::Whole;
    if (whole && std::strcmp(record.name, typedName) == 0) return;
    out.put('\n');
    if (whole) {
        writeScoreRecord(out, record);
    } else {
        writeTokens(out, tokens);
    }
}

// The slow way, for a record that does not lie whole in the reader's window: it
// is echoed as it is read, then a whole one is taken back and written in the
// writer's form (or dropped, when it is the player's).
void copyStreamedRecord(ByteReader& in, ByteWriter& out, const char* typedName) {
    PlayerProfile record;
    out.reserve(kMaxWholeRecordLength);  // a whole record's echo is never flushed
    std::size_t start = out.mark();
    out.put('\n');
    if (readScoreRecord(in, record, &out) != RecordRead::Whole) return;
    out.dropFrom(start);
    if (std::strcmp(record.name, typedName) == 0) return;
    out.put('\n');
    writeScoreRecord(out, record);
}

// Copies every record but the player's whole ones, each after a line break, so
// that no byte of another player's record is lost, even of one the game cannot read.
void copyOtherRecords(ByteReader& in, ByteWriter& out, const char* typedName) {
    while (skipWhitespace(in)) {
        RecordTokens tokens;
        std::string_view lines = scoreSpeedPaths.plainLines ? takePlainLines(in, typedName) : std::string_view();
        if (!lines.empty()) {
            out.put('\n');
            out.write(lines);  // others' records, already as the writer would write them
        } else if (scoreSpeedPaths.wholeTokens && takeRecordTokens(in, tokens)) {
            copyRecordTokens(tokens, out, typedName);
        } else {
            copyStreamedRecord(in, out, typedName);
        }
    }
}

// Hands the bytes from offset from up to offset to on to out. Returns false when
// the file ends first.
bool passBytes(ByteReader& in, std::int64_t from, std::int64_t to, ByteWriter& out) {
    if (in.offset() < from) in.skipTo(from);
    for (std::string_view bytes = in.available(); in.offset() < to && !bytes.empty(); bytes = in.available()) {
        std::size_t part = static_cast<std::size_t>(std::min<std::int64_t>(to - in.offset(), bytes.size()));
        out.write(bytes.substr(0, part));
        in.consume(part);
    }
    return in.offset() >= to;
}

// The old score file and the temporary one, for copying blocks of the first
// into the second: inside the system while it can, else through the buffers.
struct BlockCopy {
    ByteReader& in;
    ByteWriter& out;
    platform::FileHandle old;
    platform::FileHandle temp;
    bool inSystem;
    bool cutShort;  // the old file ended before a block did: it changed meanwhile
};

// Copied in steps, each sent on its way to the disk before the next is copied,
// so that the final sync has little left to wait for.
bool copyBlock(BlockCopy& copy, std::int64_t from, std::int64_t to) {
    while (copy.inSystem && from < to) {
        if (!copy.out.flush()) return false;
        std::int64_t step = std::min<std::int64_t>(to - from, kWriteBackStep);
        std::int64_t copied = platform::copyInSystem(copy.old, from, step, copy.temp);
        if (copied < 0) return false;
        from += copied;
        if (copied < step) {
            copy.inSystem = false;  // the system copies no more between these files: the rest goes through memory
        } else {
            platform::startWriteBack(copy.temp);
        }
    }
    if (copy.inSystem) return true;  // all of it copied inside the system
    copy.cutShort = !passBytes(copy.in, from, to, copy.out);
    return !copy.cutShort;
}

// The same records as copyOtherRecords writes, for a file the lookup found
// plain and that has not changed since: the bytes before the player's record and
// those after it, each block after a line break. Returns false on failure.
bool copyAroundRecord(BlockCopy& copy, const ScoreLookup& lookup) {
    if (lookup.recordStart > lookup.firstRecord) {
        copy.out.put('\n');
        // The line feed before the player's record stays behind.
        if (!copyBlock(copy, lookup.firstRecord, lookup.recordStart - 1)) return false;
    }
    if (lookup.recordEnd < lookup.file.size) {
        copy.out.put('\n');
        if (!copyBlock(copy, lookup.recordEnd + 1, lookup.file.size)) return false;
    }
    return true;
}

// True when the open score file is the one the lookup read, unchanged.
bool isUnchangedSinceLookup(platform::FileHandle file, const ScoreLookup& lookup) {
    platform::FileIdentity now;
    return scoreSpeedPaths.blockCopy && lookup.blockCopy && platform::identifyFile(file, now) && now == lookup.file;
}

// A new, empty temporary file that only this player may read while the records
// are copied into it. Whatever stood under the name is removed first: while this
// game holds the lock, no other game uses the name.
platform::FileHandle createTemporary() {
    platform::FileHandle file = platform::kNoFile;
    if (platform::removeName(kTempFile)) file = platform::createExclusive(kTempFile, platform::Sharing::OwnerOnly);
    if (file == platform::kNoFile) {
        reportUnsaved(withCause("cannot create " + std::string(kTempFile) + ": " + platform::lastErrorText()));
    }
    return file;
}

// Writes the new score file into temp, forces it to disk, and only then gives it
// the old file's owner, group and mode. Returns false, after saying why, on any failure.
bool writeTemporary(platform::FileHandle temp, platform::FileHandle old, const char* typedName,
                    const ScoreLookup& lookup) {
    ByteWriter out(temp);
    writeScoreRecord(out, runState.playerProfile);
    if (old != platform::kNoFile) {
        ByteReader in(old);
        BlockCopy copy{in, out, old, temp, true, false};
        bool copied = true;
        if (isUnchangedSinceLookup(old, lookup)) {
            copied = copyAroundRecord(copy, lookup);
        } else {
            copyOtherRecords(in, out, typedName);
        }
        if (in.failed()) return reportUnsaved("cannot read it: " + std::string(platform::lastErrorText()));
        if (copy.cutShort) return reportUnsaved("it changed while it was copied");
        if (!copied) return reportUnsaved(withCause("cannot copy it: " + std::string(platform::lastErrorText())));
    }
    if (!out.flush() || !platform::syncToDisk(temp)) {
        return reportUnsaved(withCause("cannot write " + std::string(kTempFile) + ": " + platform::lastErrorText()));
    }
    platform::carryOwnership(temp, old);
    return true;
}

// The temporary file stays, empty, with the score file's owner, group and mode,
// so that whoever may replace the score file may use it next.
void leaveEmptyTemporary() {
    platform::removeName(kTempFile);
    platform::FileHandle left = platform::createExclusive(kTempFile);
    platform::FileHandle model = platform::openForReading(kScoreFile, platform::Links::Refuse);
    if (left != platform::kNoFile) platform::carryOwnership(left, model);
    platform::closeFile(model);
    platform::closeFile(left);
}

// Closes the whole copy, once its name is seen to hold it still (a member of the
// folder's group may have swapped it); it is renamed only when closed, as shares
// and Windows refuse to rename an open file. A copy that cannot be closed whole
// is emptied.
bool closeTemporary(platform::FileHandle temp) {
    if (!platform::nameHoldsFile(kTempFile, temp)) {
        platform::closeFile(temp);
        return reportUnsaved(std::string(kTempFile) + ": " + platform::lastErrorText());
    }
    if (platform::closeFile(temp)) return true;
    std::string reason = withCause("cannot write " + std::string(kTempFile) + ": " + platform::lastErrorText());
    leaveEmptyTemporary();
    return reportUnsaved(reason);
}

// Renames the closed copy over the score file, right after making sure the lock
// is still this game's (closing a copy on a share takes time). Where that fails, what stands
// decides: the old score file still there keeps every record, and the copy is
// emptied; a score file that a share removed before failing leaves the copy the
// only one, so it is put in place again, or left for the next game to put back.
bool putInPlace(const SaveLock& lock) {
    if (!stillHolds(lock)) return false;
    if (platform::replaceFile(kTempFile, kScoreFile)) return true;
    std::string reason = withCause(platform::lastErrorText());
    if (platform::nameExists(kScoreFile)) {
        leaveEmptyTemporary();
        return reportUnsaved(reason);
    }
    for (int attempt = 0; attempt < 3; ++attempt) {
        platform::pauseMs(100);
        if (platform::replaceFile(kTempFile, kScoreFile)) return true;
    }
    return reportUnsaved(reason + "; its new content waits in " + kTempFile +
                         ", which the next game puts back in its place");
}

bool rewriteProfile(const char* typedName, const ScoreLookup& lookup, const SaveLock& lock) {
    platform::FileHandle old = platform::openForReading(kScoreFile, platform::Links::Refuse);
    if (old == platform::kNoFile && platform::nameExists(kScoreFile)) {
        return reportUnsaved(platform::lastErrorText());
    }
    platform::FileHandle temp = createTemporary();
    bool written = temp != platform::kNoFile && writeTemporary(temp, old, typedName, lookup);
    platform::closeFile(old);  // first: Windows does not replace a file its own process holds open
    if (!written) {
        if (temp != platform::kNoFile) platform::truncateTo(temp, 0);  // never a partial copy left
        platform::closeFile(temp);
        return false;
    }
    if (!stillHolds(lock)) {  // the name may be another game's now: nothing of it is touched
        platform::closeFile(temp);
        return false;
    }
    if (!closeTemporary(temp) || !putInPlace(lock)) return false;
    leaveEmptyTemporary();
    return true;
}

}  // namespace

bool restoreScoreFile() {
    SaveLock lock;
    std::string why;
    platform::NameLook temp;
    bool leftAlone = takeSaveLock(lock, why) && !platform::nameExists(kScoreFile) &&
                     platform::lookAtName(kTempFile, 0, temp) && temp.kind == platform::NameKind::Regular &&
                     temp.identity.size > 0;
    if (!leftAlone || !platform::replaceFile(kTempFile, kScoreFile)) return false;
    leaveEmptyTemporary();
    std::fprintf(stderr, "prozorometr: %s was missing; put back from %s, where a save that did not end left it\n",
                 kScoreFile, kTempFile);
    return true;
}

bool saveProfile(const char* typedName, const ScoreLookup& lookup) {
    if (!isStorableName(typedName)) return true;  // nothing typed: nothing to store
    SaveLock lock;
    std::string why;
    if (!takeSaveLock(lock, why)) return reportUnsaved("cannot lock " + std::string(kLockFile) + ": " + why);
    Append append = lookup.outcome == Lookup::Found ? Append::NotPossible : appendProfile(typedName, lock);
    bool saved = append == Append::Done || (append == Append::NotPossible && rewriteProfile(typedName, lookup, lock));
    releaseSaveLock(lock);
    return saved;
}

// Storing the player's profile at the end of a run. Writers in one folder are
// serialised by a lock file, ~pz2004.lck, which only those who may write the
// folder can make; a save never runs without a lock and never waits for one
// longer than half a minute. Nothing is written through a name someone else may
// have planted: an append goes only into a regular file with one link, and a
// rewrite goes into a private temporary file created anew, forced to disk, and
// only then given the score file's owner, group and mode and put in its place in
// one atomic step. Any failure leaves the score file as it was, the temporary
// file empty, and says so in one line on stderr.
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
#include "profiles/profile_store.h"
#include "profiles/score_record.h"

namespace {

constexpr int kLockWaitLimitMs = 30000;
constexpr int kLockWaitAnnouncedAfterMs = 1000;  // shorter waits go unremarked

bool reportUnsaved(const std::string& reason) {
    std::fprintf(stderr, "prozorometr: %s not saved: %s\n", kScoreFile, reason.c_str());
    return false;
}

void announceLockWait(const char* path) {
    std::fprintf(stderr, "prozorometr: another game is saving; waiting up to %d seconds for %s\n",
                 kLockWaitLimitMs / 1000, path);
}

// The lock that serialises the saves of one folder: the lock file, or where the
// folder lets this player create no file (a read-only folder, where only appends
// are left to do) the system's lock on the score file itself.
struct SaveLock {
    platform::FileHandle file;
    bool onScoreFile;
};

SaveLock takeSaveLock() {
    const platform::LockWait wait{kLockWaitLimitMs, kLockWaitAnnouncedAfterMs, announceLockWait};
    bool folderClosed = false;
    SaveLock lock{platform::takeLockFile(kLockFile, wait, folderClosed), false};
    if (lock.file == platform::kNoFile && folderClosed) lock = {platform::takeSystemLock(kScoreFile, wait), true};
    if (lock.file == platform::kNoFile) {
        reportUnsaved("cannot lock " + std::string(lock.onScoreFile ? kScoreFile : kLockFile) + ": " +
                      platform::lastErrorText());
    }
    return lock;
}

void releaseSaveLock(const SaveLock& lock) {
    if (lock.onScoreFile) {
        platform::releaseSystemLock(lock.file);
    } else {
        platform::releaseLockFile(kLockFile, lock.file);
    }
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
Append appendProfile(const char* typedName) {
    platform::FileHandle file = platform::openForAppend(kScoreFile);
    if (file == platform::kNoFile) return Append::NotPossible;
    std::int64_t oldSize = platform::sizeOf(file);
    if (oldSize < 0 || !appendable(file, typedName)) {
        platform::closeFile(file);
        return Append::NotPossible;
    }
    ByteWriter out(file);
    out.put('\n');
    writeScoreRecord(out, runState.playerProfile);
    if (out.flush() && platform::syncToDisk(file)) {
        platform::closeFile(file);  // the record is on disk already
        return Append::Done;
    }
    std::string reason = platform::lastErrorText();
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
        std::string_view lines = takePlainLines(in, typedName);
        if (!lines.empty()) {
            out.put('\n');
            out.write(lines);  // others' records, already as the writer would write them
        } else if (takeRecordTokens(in, tokens)) {
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
        if (copied == 0) {
            copy.inSystem = false;  // the system cannot copy between these files
        } else if (copied != step) {
            return false;
        } else {
            platform::startWriteBack(copy.temp);
            from += step;
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
    return lookup.blockCopy && platform::identifyFile(file, now) && now == lookup.file;
}

// The temporary file left by someone else, emptied and made private, when this
// player may write it and change its mode.
platform::FileHandle reuseTemporary() {
    platform::FileHandle file = platform::openForAppend(kTempFile);
    if (file == platform::kNoFile || (platform::truncateTo(file, 0) && platform::restrictToOwner(file))) return file;
    platform::closeFile(file);
    return platform::kNoFile;
}

// A new, empty temporary file that only this player may read while the records
// are copied into it. The name is freed first, whatever stands there; where the
// folder keeps others from freeing it (a sticky folder), an empty regular file
// there that this player may write is used instead.
platform::FileHandle createTemporary() {
    platform::FileHandle file = platform::removeName(kTempFile)
                                    ? platform::createExclusive(kTempFile, platform::Sharing::OwnerOnly)
                                    : reuseTemporary();
    if (file == platform::kNoFile) {
        reportUnsaved("cannot create " + std::string(kTempFile) + ": " + platform::lastErrorText());
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
        if (!copied) return reportUnsaved("cannot copy it: " + std::string(platform::lastErrorText()));
    }
    bool written = out.flush() && platform::syncToDisk(temp) && platform::carryOwnership(temp, old);
    return written || reportUnsaved(platform::lastErrorText());
}

// Renames the temporary file over the score file, once the name is seen to hold
// still the file written (a member of the folder's group may have swapped it).
bool putInPlace(platform::FileHandle temp) {
    if (!platform::nameHoldsFile(kTempFile, temp)) {
        return reportUnsaved(std::string(kTempFile) + ": " + platform::lastErrorText());
    }
    return platform::replaceFile(kTempFile, kScoreFile) || reportUnsaved(platform::lastErrorText());
}

// The temporary file stays, empty, with the new score file's owner, group and
// mode, so that whoever may replace the score file may reuse it.
void leaveEmptyTemporary(platform::FileHandle saved) {
    platform::FileHandle left = platform::createExclusive(kTempFile);
    if (left != platform::kNoFile) platform::carryOwnership(left, saved);
    platform::closeFile(left);
}

bool rewriteProfile(const char* typedName, const ScoreLookup& lookup) {
    platform::FileHandle old = platform::openForReading(kScoreFile, platform::Links::Refuse);
    if (old == platform::kNoFile && platform::nameExists(kScoreFile)) {
        return reportUnsaved(platform::lastErrorText());
    }
    platform::FileHandle temp = createTemporary();
    bool written = temp != platform::kNoFile && writeTemporary(temp, old, typedName, lookup);
    platform::closeFile(old);  // first: Windows does not replace a file its own process holds open
    bool saved = written && putInPlace(temp);
    if (!saved && temp != platform::kNoFile) platform::truncateTo(temp, 0);  // never a partial copy left
    if (saved) leaveEmptyTemporary(temp);
    platform::closeFile(temp);
    return saved;
}

}  // namespace

bool saveProfile(const char* typedName, const ScoreLookup& lookup) {
    if (!isStorableName(typedName)) return true;  // nothing typed: nothing to store
    SaveLock lock = takeSaveLock();
    if (lock.file == platform::kNoFile) return false;
    Append append = lookup.outcome == Lookup::Found ? Append::NotPossible : appendProfile(typedName);
    bool saved = append == Append::Done || (append == Append::NotPossible && rewriteProfile(typedName, lookup));
    releaseSaveLock(lock);
    return saved;
}

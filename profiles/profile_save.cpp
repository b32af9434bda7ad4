// Storing the player's profile at the end of a run. Writers in one folder are
// serialised by a lock on the question database, which the game never replaces.
// Nothing is written through a name someone else may have planted: an append goes
// only into a regular file with one link, and a rewrite goes into a temporary file
// created anew, forced to disk, and only then put in the score file's place in
// one atomic step. Any failure leaves the score file as it was, the temporary
// file empty, and says so in one line on stderr.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/run_state.h"
#include "io/byte_reader.h"
#include "io/byte_writer.h"
#include "platform/platform.h"
#include "profiles/profile_store.h"
#include "profiles/score_record.h"

namespace {

bool reportUnsaved(const std::string& reason) {
    std::fprintf(stderr, "prozorometr: %s not saved: %s\n", kScoreFile, reason.c_str());
    return false;
}

// True when every record of the file is complete, so that a record appended
// after them reads as its own, and none of the whole ones is the player's: one
// stored by another game of the same name since the lookup must be replaced, or
// the player would have two records.
bool appendable(platform::FileHandle file, const char* typedName) {
    ByteReader in(file);
    PlayerProfile scratch;
    RecordRead read;
    do {
        read = readScoreRecord(in, scratch);
        if (read == RecordRead::Whole && std::strcmp(scratch.name, typedName) == 0) return false;
    } while (read == RecordRead::Whole || read == RecordRead::Damaged);
    return read == RecordRead::None && !in.failed();
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

// Copies every record but the player's whole ones, each after a line break. A
// record is echoed as it is read; a whole one is then taken back and written in
// the writer's form (or dropped, when it is the player's), while one the game
// cannot read stays as its tokens stood, so no byte of another player's is lost.
void copyOtherRecords(ByteReader& in, ByteWriter& out, const char* typedName) {
    PlayerProfile record;
    while (skipWhitespace(in)) {
        out.reserve(kMaxWholeRecordLength);  // a whole record's echo is never flushed
        std::size_t start = out.mark();
        out.put('\n');
        if (readScoreRecord(in, record, &out) != RecordRead::Whole) continue;
        out.dropFrom(start);
        if (std::strcmp(record.name, typedName) == 0) continue;
        out.put('\n');
        writeScoreRecord(out, record);
    }
}

// The temporary file left by someone else, emptied, when this player may write it.
platform::FileHandle reuseTemporary() {
    platform::FileHandle file = platform::openForAppend(kTempFile);
    if (file == platform::kNoFile || platform::truncateTo(file, 0)) return file;
    platform::closeFile(file);
    return platform::kNoFile;
}

// A new, empty temporary file. The name is freed first, whatever stands there;
// where the folder keeps others from freeing it (a sticky folder), an empty
// regular file there that this player may write is used instead.
platform::FileHandle createTemporary() {
    platform::FileHandle file =
        platform::removeName(kTempFile) ? platform::createExclusive(kTempFile) : reuseTemporary();
    if (file == platform::kNoFile) {
        reportUnsaved("cannot create " + std::string(kTempFile) + ": " + platform::lastErrorText());
    }
    return file;
}

// Writes the new score file into temp and puts it in place. Returns false, after
// saying why, on any failure.
bool writeAndReplace(platform::FileHandle temp, platform::FileHandle old, const char* typedName) {
    ByteWriter out(temp);
    writeScoreRecord(out, runState.playerProfile);
    if (old != platform::kNoFile) {
        ByteReader in(old);
        copyOtherRecords(in, out, typedName);
        if (in.failed()) return reportUnsaved("cannot read it: " + std::string(platform::lastErrorText()));
    }
    bool written = out.flush() && (old == platform::kNoFile || platform::copyPermissions(temp, old)) &&
                   platform::syncToDisk(temp) && platform::replaceFile(kTempFile, kScoreFile);
    return written || reportUnsaved(platform::lastErrorText());
}

bool rewriteProfile(const char* typedName) {
    platform::FileHandle old = platform::openForReading(kScoreFile, platform::Links::Refuse);
    if (old == platform::kNoFile && platform::nameExists(kScoreFile)) {
        return reportUnsaved(platform::lastErrorText());
    }
    platform::FileHandle temp = createTemporary();
    bool saved = temp != platform::kNoFile && writeAndReplace(temp, old, typedName);
    if (!saved && temp != platform::kNoFile) platform::truncateTo(temp, 0);  // never a partial copy left
    platform::closeFile(temp);
    platform::closeFile(old);
    if (saved) platform::closeFile(platform::createExclusive(kTempFile));  // the temporary file stays, empty
    return saved;
}

}  // namespace

bool saveProfile(const char* typedName, bool returning) {
    if (!isStorableName(typedName)) return true;  // nothing typed: nothing to store
    platform::FileHandle lock = platform::lockFile(kDatabaseFile);
    if (lock == platform::kNoFile) {
        std::fprintf(stderr, "prozorometr: cannot lock %s; saving unguarded\n", kDatabaseFile);
    }
    Append append = returning ? Append::NotPossible : appendProfile(typedName);
    bool saved = append == Append::Done || (append == Append::NotPossible && rewriteProfile(typedName));
    platform::unlockFile(lock);
    return saved;
}

// Copying the other players' records into a new score file (see score_copy.h):
// lines already in the writer's form pass whole, records that lie in the
// reader's window are read in place, and the rare rest is streamed; an
// unchanged file is copied around the player's old record in blocks.
#include "profiles/score_copy.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "lock/failure_words.h"
#include "profiles/plain_line.h"
#include "profiles/score_record.h"
#include "profiles/speed_paths.h"

namespace {

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

// The old score file and the copy, for copying blocks of the first into the
// second: inside the system while it can, else through the buffers.
struct BlockCopy {
    ByteReader& in;
    ByteWriter& out;
    platform::FileHandle old;
    platform::FileHandle copy;
    bool inSystem;
    bool cutShort;  // the old file ended before a block did: it changed meanwhile
};

// Copied in steps, each sent on its way to the disk before the next is copied,
// so that the final sync has little left to wait for.
bool copyBlock(BlockCopy& copy, std::int64_t from, std::int64_t to) {
    while (copy.inSystem && from < to) {
        if (!copy.out.flush()) return false;
        std::int64_t step = std::min<std::int64_t>(to - from, kWriteBackStep);
        std::int64_t copied = platform::copyInSystem(copy.old, from, step, copy.copy);
        if (copied < 0) return false;
        from += copied;
        if (copied < step) {
            copy.inSystem = false;  // the system copies no more between these files: the rest goes through memory
        } else {
            platform::startWriteBack(copy.copy);
        }
    }
    if (copy.inSystem) return true;  // all of it copied inside the system
    copy.cutShort = !passBytes(copy.in, from, to, copy.out);
    return !copy.cutShort;
}

// The same records as the record-by-record copy writes, for a file the lookup
// found plain and that has not changed since: the bytes before the player's
// record and those after it, each block after a line break.
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
bool isUnchangedSinceLookup(platform::FileHandle file, const ScoreLookup* lookup) {
    platform::FileIdentity now;
    return lookup != nullptr && scoreSpeedPaths.blockCopy && lookup->blockCopy && platform::identifyFile(file, now) &&
           now == lookup->file;
}

}  // namespace

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

bool copyOtherRecords(platform::FileHandle base, ByteWriter& out, platform::FileHandle copy, const char* typedName,
                      const ScoreLookup* lookup, std::string& why) {
    ByteReader in(base);
    BlockCopy blocks{in, out, base, copy, true, false};
    bool copied = true;
    if (isUnchangedSinceLookup(base, lookup)) {
        copied = copyAroundRecord(blocks, *lookup);
    } else {
        copyOtherRecords(in, out, typedName);
    }
    if (in.failed()) {
        why = withCause("cannot read it: " + std::string(platform::lastErrorText()));
    } else if (blocks.cutShort) {
        why = "it changed while it was copied";
    } else if (!copied) {
        why = withCause("cannot copy it: " + std::string(platform::lastErrorText()));
    }
    return copied && !in.failed() && !blocks.cutShort;
}

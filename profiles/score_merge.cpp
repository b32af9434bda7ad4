// Merging two versions of the score file (see score_merge.h). The current
// version is held in memory, record by record, while the replaced one streams
// past it: a rare repair, never the way of an ordinary save.
#include "profiles/score_merge.h"

#include <cstring>
#include <unordered_map>
#include <vector>

#include "io/byte_reader.h"
#include "lock/failure_words.h"
#include "profiles/score_record.h"

namespace {

// One record as read: a whole one's profile, or the tokens of one the game
// cannot read (its key, prefixed so that no name can equal it).
struct ReadRecord {
    bool whole;
    PlayerProfile profile;
    std::string key;
};

// Reads the next record; false at the end of the file.
bool readRecord(ByteReader& in, ReadRecord& record) {
    std::string tokens;
    ByteWriter echo(tokens);
    RecordRead read = readScoreRecord(in, record.profile, &echo);
    echo.flush();
    if (read == RecordRead::None) return false;
    record.whole = read == RecordRead::Whole;
    record.key = record.whole ? std::string(record.profile.name) : "\n" + tokens;
    return true;
}

void writeRecord(ByteWriter& out, const ReadRecord& record) {
    out.put('\n');
    if (record.whole) {
        writeScoreRecord(out, record.profile);
    } else {
        out.write(std::string_view(record.key).substr(1));
    }
}

struct Version {
    std::vector<ReadRecord> records;
    std::unordered_map<std::string, std::size_t> byKey;  // the first of each key
    std::vector<bool> written;
};

bool readVersion(platform::FileHandle file, const char* typedName, Version& version) {
    ByteReader in(file);
    for (ReadRecord record; readRecord(in, record);) {
        if (record.whole && std::strcmp(record.profile.name, typedName) == 0) continue;
        if (version.byKey.count(record.key) == 0) version.byKey[record.key] = version.records.size();
        version.records.push_back(record);
    }
    version.written.assign(version.records.size(), false);
    return !in.failed();
}

// The later of two records of one player: the one with more runs.
const ReadRecord& laterOf(const ReadRecord& replaced, const ReadRecord& current) {
    return current.whole && current.profile.attempts > replaced.profile.attempts ? current : replaced;
}

}  // namespace

bool mergeScoreVersions(platform::FileHandle replaced, platform::FileHandle current, ByteWriter& out,
                        const char* typedName, std::string& why) {
    Version known;
    ByteReader in(replaced);
    bool read = readVersion(current, typedName, known);
    for (ReadRecord record; read && readRecord(in, record);) {
        if (record.whole && std::strcmp(record.profile.name, typedName) == 0) continue;
        auto found = known.byKey.find(record.key);
        if (found == known.byKey.end() || known.written[found->second]) {
            writeRecord(out, record);
            continue;
        }
        known.written[found->second] = true;
        writeRecord(out, laterOf(record, known.records[found->second]));
    }
    for (std::size_t i = 0; i < known.records.size(); ++i) {
        if (!known.written[i]) writeRecord(out, known.records[i]);
    }
    if (read && !in.failed()) return true;
    why = withCause("cannot read it: " + std::string(platform::lastErrorText()));
    return false;
}

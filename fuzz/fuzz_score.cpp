// Score file bytes -> readScoreRecord to the end, then findProfile. Checks that
// the scan ends after the last token, that each record's echo is its tokens, that
// a record is whole exactly when all six fields fit (then held without a NUL or a
// cut), and that findProfile returns the first whole record of the name looked up.
#include <cstdint>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "profiles/profile_store.h"

namespace {

bool sameProfile(const PlayerProfile& a, const PlayerProfile& b) {
    return std::string_view(a.name) == b.name && a.attempts == b.attempts && a.correctTotal == b.correctTotal &&
           a.wrongTotal == b.wrongTotal && std::string_view(a.characterLabel) == b.characterLabel &&
           std::string_view(a.intellectLabel) == b.intellectLabel;
}

void checkScan(std::string_view bytes, const std::vector<TokenGroup>& groups) {
    ByteReader in(bytes);
    PlayerProfile read{}, expected{};
    for (std::size_t record = 0;; ++record) {
        std::string echo;
        ByteWriter out(echo);
        RecordRead result = readScoreRecord(in, read, &out);
        out.flush();
        require((result == RecordRead::None) == (record == groups.size()), "the scan ends after the last token");
        if (result == RecordRead::None) return;
        require(echo == joined(groups[record]), "a record's echo is its tokens joined by blanks");
        require((result == RecordRead::CutShort) == (groups[record].size() < kScoreFields), "cut short means fewer than six tokens");
        bool whole = wholeRecordOf(groups[record], expected);
        require((result == RecordRead::Whole) == whole, "a record is whole exactly when its six fields fit");
        require(!whole || sameProfile(read, expected), "a whole record holds its tokens unchanged");
    }
}

// Looks up the name field of one record, cut to a name field's size as a stored
// profile would hold it, so that a damaged record's long name is tried too.
void checkLookup(std::string_view bytes, const std::vector<TokenGroup>& groups, std::size_t pick) {
    const std::string& token = groups[pick % groups.size()][0];
    std::string typed = token.substr(0, std::min(token.find('\0'), std::size_t{kNameSize - 1}));
    PlayerProfile expected{}, found{};
    bool exists = false;
    for (const TokenGroup& group : groups) {
        if (group[0] == typed && wholeRecordOf(group, expected)) {
            exists = true;
            break;
        }
    }
    ByteReader in(bytes);
    ScoreLookup lookup{};
    require(findProfile(in, typed.c_str(), found, lookup) == exists, "a name is found exactly when a whole record has it");
    require(!exists || sameProfile(found, expected), "the first whole record of the name is found");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::vector<TokenGroup> groups = scoreGroupsOf(bytes);
    checkScan(bytes, groups);
    if (!groups.empty()) checkLookup(bytes, groups, data[0]);
    return 0;
}

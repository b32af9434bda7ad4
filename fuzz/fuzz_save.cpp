// Input -> flags, a typed name and an old score.dat in a scratch folder, then the
// lookup, a change made "during the game" (a record added, the file deleted, or
// a link planted in its place) and saveProfile. Checks that every other player's whole record survives in the
// writer's form and every unreadable record's tokens byte for byte, that the
// player's record is there once, and that nothing else appears or changes, in the
// folder or outside it, whatever link is planted. Corpus paths must be absolute.
#include <algorithm>
#include <cstdint>

#include "fuzz/folder_state.h"
#include "fuzz/fuzz_support.h"
#include "profiles/profile_store.h"

namespace {

enum Flag : std::uint8_t { kChangedMeanwhile = 1, kTempSymlink = 2, kTempHardLink = 4, kScoreSymlink = 8, kNoScore = 16 };
const std::string kAddedMeanwhile = "\nzz 1 2 3 a b";
const char* const kVictim = "../outside/victim";
const std::string kVictimState = "file not the game's\n";

void layOut(std::uint8_t flags, std::string_view oldScore) {
    emptyFolder(".");
    emptyFolder("../outside");
    writeFile(kVictim, kVictimState.substr(5));
    writeFile(kDatabaseFile, "db\n");
    writeFile(kScoreFile, oldScore);
    if (flags & kTempSymlink) symlink(kVictim, kTempFile);
    if ((flags & kTempHardLink) && !(flags & kTempSymlink)) link(kVictim, kTempFile);
}

// What another game or another user may do while the player answers.
void changeDuringTheGame(std::uint8_t flags, std::string& oldScore) {
    if (flags & (kScoreSymlink | kNoScore)) {
        unlink(kScoreFile);
        oldScore.clear();
        if (flags & kScoreSymlink) symlink(kVictim, kScoreFile);
    } else if (flags & kChangedMeanwhile) {
        oldScore += kAddedMeanwhile;
        writeFile(kScoreFile, oldScore);
    }
}

// When both leading bytes are 0xE0 or more (one input in 64: they cost), one
// damaged record of about 64 KiB comes first, so that the input's own records
// straddle the save's 64 KiB read and write buffers.
std::string scoreFileOf(const std::uint8_t* data, std::size_t start, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data) + start, size - start);
    if (data[0] < 0xE0 || data[1] < 0xE0) return std::string(input);
    return std::string(65500 + 8 * (data[1] & 7), 'x') + " 1 2 3 a b\n" + std::string(input);
}

// Each whole record in the writer's form and each other group as its tokens,
// leaving out the whole records named skippedName.
std::multiset<std::string> recordsOf(const std::vector<TokenGroup>& groups, const std::string& skippedName) {
    std::multiset<std::string> records;
    PlayerProfile profile{};
    for (const TokenGroup& group : groups) {
        bool whole = wholeRecordOf(group, profile);
        if (!whole || profile.name != skippedName) records.insert(whole ? writerForm(profile) : joined(group));
    }
    return records;
}

void checkSavedFile(const std::vector<TokenGroup>& oldGroups, const std::string& typed) {
    std::string after = stateOf(kScoreFile);
    require(after.rfind("file ", 0) == 0, "the saved score file is a regular file");
    std::multiset<std::string> now = recordsOf(scoreGroupsOf(std::string_view(after).substr(5)), "");
    std::multiset<std::string> others = recordsOf(oldGroups, typed);
    require(std::includes(now.begin(), now.end(), others.begin(), others.end()), "no other record is lost");
    require(now.count(writerForm(runState.playerProfile)) == 1, "the player's record is there exactly once");
    require(now.size() == others.size() + 1, "nothing but the player's record is added");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    enterGameFolder();
    if (size < 2) return 0;
    std::uint8_t flags = data[0];
    std::size_t nameLength = std::min<std::size_t>(data[1] % 32, size - 2);
    std::string typed(reinterpret_cast<const char*>(data) + 2, nameLength);
    typed.resize(std::min(typed.find('\0'), typed.size()));
    std::string oldScore = scoreFileOf(data, 2 + nameLength, size);
    layOut(flags, oldScore);
    ScoreLookup lookup = loadProfile(typed.c_str());
    require(lookup.outcome != Lookup::Failed, "an ordinary score file is looked up");
    changeDuringTheGame(flags, oldScore);
    const std::string scoreBefore = stateOf(kScoreFile), tempBefore = stateOf(kTempFile);
    PlayerProfile& profile = runState.playerProfile;  // as a run leaves it: the typed name, new totals
    profile = PlayerProfile{{}, static_cast<std::int32_t>(size), flags, -1, "lbl1", "lbl2"};
    copyField(profile.name, kNameSize, typed.c_str());
    bool saved = saveProfile(typed.c_str(), lookup);
    require(stateOf(kVictim) == kVictimState && namesIn("../outside").size() == 1, "nothing outside changes");
    require(stateOf(kDatabaseFile) == "file db\n", "the database is unchanged");
    std::set<std::string> extra = namesIn(".");
    for (const char* name : {kDatabaseFile, kScoreFile, kTempFile}) extra.erase(name);
    require(extra.empty(), "no other file appears in the folder");
    std::string tempAfter = stateOf(kTempFile);
    require(tempAfter == "absent" || tempAfter == "file " || tempAfter == tempBefore, "the temporary file is left empty");
    require(saved || (flags & kScoreSymlink), "a save into an ordinary folder succeeds");
    if (saved && isStorableName(typed.c_str())) {
        checkSavedFile(scoreGroupsOf(oldScore), typed);
    } else {
        require(stateOf(kScoreFile) == scoreBefore, "a score file not saved to is unchanged");
    }
    return 0;
}

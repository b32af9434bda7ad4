// Looking up the player's stored profile at the start of a run. The score file is
// opened without following a link and must be a regular file that the player may
// write. Every save takes the folder's lock, and a returning player's save
// replaces the score file: where the folder already rules either out, the player
// hears so before the first question, not after the last.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/run_state.h"
#include "core/verdict_words.h"
#include "lock/save_lock.h"
#include "platform/platform.h"
#include "profiles/plain_run_ahead.h"
#include "profiles/profile_store.h"
#include "profiles/save_rooms.h"
#include "profiles/score_commit.h"
#include "profiles/score_record.h"

namespace {

void setFreshProfile(PlayerProfile& profile, const char* typedName) {
    copyField(profile.name, kNameSize, typedName);
    profile.attempts = 0;
    profile.correctTotal = 0;
    profile.wrongTotal = 0;
    copyField(profile.characterLabel, kCharacterLabelSize, kUnknownWord);
    copyField(profile.intellectLabel, kIntellectLabelSize, kUnknownWord);
}

ScoreLookup failedLookup() {
    ScoreLookup failed{};
    failed.outcome = Lookup::Failed;
    return failed;
}

ScoreLookup reportUnusable(platform::FileHandle file) {
    std::fprintf(stderr, "prozorometr: cannot use %s: %s\n", kScoreFile, platform::lastErrorText());
    platform::closeFile(file);
    return failedLookup();
}

// True when the save at the end can take the folder's lock; otherwise says why not.
bool canTakeLock() {
    std::string obstacle = lockObstacle();
    if (obstacle.empty()) return true;
    std::fprintf(stderr, "prozorometr: cannot save at the end of the game: %s\n", obstacle.c_str());
    return false;
}

// True when the save at the end can put a new score file in place of the old
// one; otherwise says why not.
bool canReplaceScoreFile() {
    platform::NameLook look;
    bool folder = platform::lookAtName(kScoreFile, 0, look) && look.kind == platform::NameKind::Folder;
    if (!folder && platform::mayReplaceName(kScoreFile)) return true;
    std::fprintf(stderr, "prozorometr: cannot replace %s at the end of the game: %s\n", kScoreFile,
                 folder ? "a folder stands there; remove it" : platform::lastErrorText());
    return false;
}

// True when a save is under way, or one that did not end left a whole copy.
bool saveLeftTraces() {
    std::vector<std::string> copies;
    return platform::nameExists(kLockFile) ||
           (platform::listNames(ownNamesOf("").complete.c_str(), copies) && !copies.empty());
}

// Opens the score file for the lookup. Where it is missing while a save is under
// way (some shares show no file for a moment while it is replaced) or after one
// left it under its copy's name, the lock is taken first and the file put back.
platform::FileHandle openScoreFile(const LockTimes& times, const SaveVoice& voice) {
    platform::FileHandle file = platform::openForReading(kScoreFile, platform::Links::Refuse);
    if (file != platform::kNoFile || platform::lastFailure() != platform::Failure::Missing) return file;
    if (!saveLeftTraces()) return file;
    putBackScoreFile(times, voice);
    return platform::openForReading(kScoreFile, platform::Links::Refuse);
}

}  // namespace

bool findProfile(ByteReader& in, const char* typedName, PlayerProfile& profile, ScoreLookup& lookup,
                 PlainRunAhead* ahead) {
    std::string_view name(typedName);
    PlayerProfile afterFound;  // records read past the player's must not overwrite it
    bool found = false;
    bool plain = true;
    for (bool first = true;; first = false) {
        std::int64_t gapStart = in.offset();
        if (!skipWhitespace(in)) {
            plain = plain && in.offset() == gapStart;  // whitespace after the last record
            break;
        }
        std::int64_t start = in.offset();
        if (first) lookup.firstRecord = start;
        plain = plain && (first || start - gapStart == 1);
        if (passPlainLines(in, name, ahead)) continue;  // others' records
        PlayerProfile& record = found ? afterFound : profile;
        RecordRead read = readNextRecord(in, record);
        bool mine = !found && read == RecordRead::Whole && std::strcmp(record.name, typedName) == 0;
        if (mine) {
            lookup.recordStart = start;
            lookup.recordEnd = in.offset();
        }
        found = found || mine;
        plain = plain && mine;
        if (read == RecordRead::CutShort || (found && !plain)) break;
    }
    lookup.blockCopy = found && plain;
    return found;
}

ScoreLookup lookUpProfile(const char* typedName, PlayerProfile& profile, const LockTimes& times,
                          const SaveVoice& voice) {
    ScoreLookup lookup{};
    platform::FileHandle file = openScoreFile(times, voice);
    if (file == platform::kNoFile || !platform::isWritable(kScoreFile)) return reportUnusable(file);
    bool found = false, failed = false;
    {  // the helper is done before the file is closed
        ByteReader in(file);
        PlainRunAhead ahead(file, platform::sizeOf(file), typedName);
        found = findProfile(in, typedName, profile, lookup, &ahead);
        failed = in.failed();
    }
    lookup.blockCopy = lookup.blockCopy && platform::identifyFile(file, lookup.file);
    if (failed) return reportUnusable(file);
    platform::closeFile(file);
    bool storable = isStorableName(typedName);
    if (storable && (!canTakeLock() || (found && !canReplaceScoreFile()))) return failedLookup();
    lookup.outcome = found ? Lookup::Found : Lookup::Fresh;
    if (!found) setFreshProfile(profile, typedName);
    return lookup;
}

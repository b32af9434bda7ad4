// Looking up the player's stored profile at the start of a run. The score file is
// opened without following a link and must be a regular file that the player may
// write, as it will be replaced at the end of the game.
#include <cstdio>
#include <cstring>

#include "app/cp1251.h"
#include "app/run_state.h"
#include "platform/platform.h"
#include "profiles/profile_store.h"
#include "profiles/score_record.h"

namespace {

void setFreshProfile(PlayerProfile& profile, const char* typedName) {
    copyField(profile.name, kNameSize, typedName);
    profile.attempts = 0;
    profile.correctTotal = 0;
    profile.wrongTotal = 0;
    copyField(profile.characterLabel, kCharacterLabelSize, "неизвестно"_cp);
    copyField(profile.intellectLabel, kIntellectLabelSize, "неизвестно"_cp);
}

Lookup reportUnusable(platform::FileHandle file) {
    std::fprintf(stderr, "prozorometr: cannot use %s: %s\n", kScoreFile, platform::lastErrorText());
    platform::closeFile(file);
    return Lookup::Failed;
}

}  // namespace

bool findProfile(ByteReader& in, const char* typedName, PlayerProfile& profile) {
    for (;;) {
        RecordTokens tokens;
        std::string_view line;
        RecordRead read;
        if (skipWhitespace(in) && takePlainLine(in, typedName, line)) {
            continue;  // one record, and another player's
        } else if (!takeRecordTokens(in, tokens)) {
            read = readScoreRecord(in, profile);
        } else if (tokens.count == kScoreFields && tokens.field[0] != typedName) {
            continue;  // another player's: no need to look at its fields
        } else {
            read = checkRecordTokens(tokens, profile);
        }
        if (read == RecordRead::None || read == RecordRead::CutShort) return false;
        if (read == RecordRead::Whole && std::strcmp(profile.name, typedName) == 0) return true;
    }
}

Lookup loadProfile(const char* typedName) {
    platform::FileHandle file = platform::openForReading(kScoreFile, platform::Links::Refuse);
    if (file == platform::kNoFile || !platform::isWritable(kScoreFile)) return reportUnusable(file);
    PlayerProfile& profile = runState.playerProfile;
    ByteReader in(file);
    bool found = findProfile(in, typedName, profile);
    if (in.failed()) return reportUnusable(file);
    platform::closeFile(file);
    if (found) return Lookup::Found;
    setFreshProfile(profile, typedName);
    return Lookup::Fresh;
}

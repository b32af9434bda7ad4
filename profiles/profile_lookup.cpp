// Looking up the player's stored profile at the start of a run.
#include <cstdio>
#include <cstring>
#include <fstream>

#include "app/cp1251.h"
#include "app/run_state.h"
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

}  // namespace

bool findProfile(std::istream& in, const char* typedName, PlayerProfile& profile) {
    for (;;) {
        RecordRead read = readScoreRecord(in, profile);
        if (read == RecordRead::None || read == RecordRead::CutShort) return false;
        if (read == RecordRead::Whole && std::strcmp(profile.name, typedName) == 0) return true;
    }
}

bool loadProfile(const char* typedName) {
    std::fstream file(kScoreFile, std::ios::in | std::ios::out);
    if (!file.is_open()) {
        std::fprintf(stderr, "prozorometr: cannot open %s for reading and writing\n", kScoreFile);
        return false;
    }
    PlayerProfile& profile = runState.playerProfile;
    if (!findProfile(file, typedName, profile)) setFreshProfile(profile, typedName);
    return true;
}

// The run's profile looked up at the start and stored at the end: the game's own
// voice and times around the lookup and the save's commit (score_commit.h),
// which do the work. Any failure leaves
// every record, and one line on stderr says why.
#include <cstdio>

#include "core/run_state.h"
#include "lock/lock_judge.h"
#include "profiles/profile_store.h"
#include "profiles/score_commit.h"

namespace {

void sayWaiting(int seconds) {
    std::fprintf(stderr, "prozorometr: another game is saving; waiting up to %d seconds for %s\n", seconds, kLockFile);
}

void sayPutBack(const char* copyName) {
    std::fprintf(stderr, "prozorometr: %s was missing; put back from %s, where a save that did not end left it\n",
                 kScoreFile, copyName);
}

const SaveVoice kGameVoice{sayWaiting, sayPutBack};

}  // namespace

ScoreLookup loadProfile(const char* typedName) {
    return lookUpProfile(typedName, runState.playerProfile, gameLockTimes(), kGameVoice);
}

bool saveProfile(const char* typedName, const ScoreLookup& lookup) {
    SaveOutcome outcome = storeProfile(runState.playerProfile, typedName, lookup, gameLockTimes(), kGameVoice);
    if (!outcome.saved) std::fprintf(stderr, "prozorometr: %s not saved: %s\n", kScoreFile, outcome.why.c_str());
    return outcome.saved;
}

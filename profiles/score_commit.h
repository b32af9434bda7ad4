// Storing a record in the score file with the folder's lock taken: appended for a
// new player, or written first into a new score file for a returning one. The
// commit is safe without the lock too, since a lock can be lost by a game that
// stops for long: a copy is written under a name of its own, and the lock's next
// holder removes it; what a rewrite replaces is kept and checked, and merged in
// when it is not what the copy was made from; an append checks that it reached
// the score file and looks again under the lock when it cannot be sure.
#pragma once

#include <string>

#include "core/run_state.h"
#include "lock/lock_judge.h"
#include "lock/save_lock.h"
#include "profiles/profile_store.h"

// How a save speaks while it runs: a line when it waits, and one when it put
// back a score file that a save which did not end left under its copy's name.
struct SaveVoice {
    WaitNotice waiting;
    void (*putBack)(const char* copyName);
};

struct SaveOutcome {
    bool saved;
    std::string why;  // when not saved
};

// Stores record, whose name is typedName, as the lookup found the player. Not
// saved: the score file keeps every record it had, and why says what happened.
SaveOutcome storeProfile(const PlayerProfile& record, const char* typedName, const ScoreLookup& lookup,
                         const LockTimes& times, const SaveVoice& voice);

// Takes the lock, so that a save under way ends first, and puts back a score file
// left under a copy's name. Returns true when it did.
bool putBackScoreFile(const LockTimes& times, const SaveVoice& voice);

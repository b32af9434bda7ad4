// The rewrite way of a save: a new score file is written under names of the
// game's own and put in place of the old one, which is kept by a hard link until
// it is seen to be the version the copy was made from; what the copy did
// not read is merged in, round after round. Also how the lock's new holder
// merges in a replaced version that a game left unchecked.
#pragma once

#include <string>

#include "core/run_state.h"
#include "lock/save_lock.h"
#include "profiles/profile_store.h"
#include "profiles/score_commit.h"

// Writes score.dat anew: record first (where there is one), then every other
// record of the score file, but those named typedName. lookup, where given, is
// what the game's lookup learnt of the file (for copying it in blocks).
SaveOutcome rewriteScoreFile(const PlayerProfile* record, const char* typedName, const ScoreLookup* lookup,
                             const SaveLock& lock);

// Merges the version under left, a score file a game replaced and did not live
// to check, into score.dat, and removes it: the index-th this game merges.
void mergeLeftVersion(const std::string& left, int index, const SaveLock& lock);

// True when the score file holds record whole.
bool holdsRecord(const PlayerProfile& record);

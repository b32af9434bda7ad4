// Clearing what no live game holds: a stale lock, under a lock of its own so that
// two games judging one stale lock never both clear it, and the private names that
// games which ended while they waited left beside it.
#pragma once

#include <string>

#include "profiles/lock_judge.h"

enum class Clearing { Cleared, Held, Failed };

// Clears the stale lock judged, unless another game is clearing it right now
// (Held) or it cannot be removed (Failed, with why saying what to do). clock is
// this game's; clearerWatch keeps what was seen of another game's clearing.
Clearing clearStaleLock(const platform::NameLook& judged, FolderClock& clock, Watch& clearerWatch,
                        std::string& why);

// Removes the private lock names of games that ended, all but ownName; called
// by the game that holds the lock.
void removeLeftovers(FolderClock& clock, const std::string& ownName);

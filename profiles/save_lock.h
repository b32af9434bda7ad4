// The writers' lock of a play folder, ~pz2004.lck: every save takes it, appends and
// rewrites alike, and no save runs without it. It is a file whose first line names
// its holder; the holder refreshes it while it holds it, so that a lock whose
// holder has ended or stopped is told from a live one on any file system.
#pragma once

#include <memory>
#include <string>

#include "platform/platform.h"

class LockHeartbeat;

// A lock this game holds.
struct SaveLock {
    SaveLock();
    ~SaveLock();
    SaveLock(const SaveLock&) = delete;
    SaveLock& operator=(const SaveLock&) = delete;

    platform::FileHandle file;
    std::string owner;  // the first line of the lock file: this game's mark and a number of its own
    std::unique_ptr<LockHeartbeat> heartbeat;
};

// Takes the lock, waiting while another game holds it, at most waitMs; a lock
// whose holder has ended or stopped is cleared on the way. Returns false, with
// why saying so in a few words, when the lock cannot be had.
bool takeSaveLock(SaveLock& lock, std::string& why);

// True when the lock's name still holds this game's lock: it may have been cleared
// while this game was stopped, and then another game may be saving.
bool holdsSaveLock(const SaveLock& lock);

// Releases the lock: its name is removed only while it is still this game's.
void releaseSaveLock(SaveLock& lock);

// Why a save at the end of the game could not take the lock, told before the
// first question: no file can be made in the folder, a folder stands under the
// lock's name, or a lock left by an ended game stays that this player may not
// remove. Empty when nothing stands in the way.
std::string lockObstacle();

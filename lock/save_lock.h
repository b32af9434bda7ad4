// The writers' lock of a play folder, ~pz2004.lck: every save takes it, appends and
// rewrites alike. It is a file created exclusively, whose first line names its
// holder; the system's own lock on it and a heartbeat tell a live holder from one
// that ended or stopped. A lock can still be lost by a game stopped for long (a
// laptop's lid closed) where only the heartbeat tells, so the save's commit is
// safe without it and only uses it to take turns.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "lock/lock_judge.h"
#include "platform/platform.h"

class LockHeartbeat;

// A lock this game holds.
struct SaveLock {
    SaveLock();
    ~SaveLock();
    SaveLock(const SaveLock&) = delete;
    SaveLock& operator=(const SaveLock&) = delete;

    platform::FileHandle file;
    std::string number;  // this game's own, in hexadecimal: names of its own carry it
    std::string owner;   // the first line of the lock file: this game's mark and its number
    std::unique_ptr<LockHeartbeat> heartbeat;
};

// Called once when a wait for the lock has lasted a while, with its bound in seconds.
using WaitNotice = void (*)(int seconds);

// Takes the lock, waiting while another game holds it: each holder on its own,
// at most times.waitMs while its lock shows no change, and a few times as long
// while it beats. A lock whose holder has ended or stopped is cleared on the way. Returns false, with why saying so in a few
// words, when the lock cannot be had.
bool takeSaveLock(SaveLock& lock, const LockTimes& times, std::string& why, WaitNotice notice = nullptr);

// True when the lock's name still holds this game's lock: it may have been cleared
// while this game was stopped, and then another game may be saving. After a
// failed beat, true only when a new beat gets through. False, with why saying so.
bool holdsSaveLock(const SaveLock& lock, std::string& why);

// Right before a save changes the score file: holdsSaveLock, where the save
// checks it (always, in the game).
bool checkLockBeforeCommit(const SaveLock& lock, std::string& why);

// True when look, of the lock's name, shows the file this game created.
bool isOwnLockFile(const SaveLock& lock, const platform::NameLook& look);

// Releases the lock: its name is removed only while it is still this game's.
void releaseSaveLock(SaveLock& lock);

// Why a save at the end of the game could not take the lock, told before the
// first question: no file can be made in the folder, a folder stands under the
// lock's name, or a lock left by an ended game stays that this player may not
// remove. Empty when nothing stands in the way.
std::string lockObstacle();

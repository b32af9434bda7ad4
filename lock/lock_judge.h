// Telling a lock that a live game holds from one that no game holds, by what is
// true on every file system: the system's own lock, where it reaches the holder;
// the holder's pid, where it ran here; and the lock file's content, which its
// holder refreshes while it runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"

// How long the lock's waits last.
struct LockTimes {
    int waitMs;      // the longest wait for one holder that makes no progress
    int staleMs;     // a lock unchanged this long, with no live holder in sight, has none
    int beatMs;      // how often a holder refreshes its lock
    int announceMs;  // a wait this long is announced
};

// The game's times: a wait of 30 s; stale after 25 s, longer than a network
// file system's client may show an old view of a file (sshfs: 20 s), so a
// beating holder is never taken for a stopped one; a beat a second.
// PROZOROMETR_LOCK_WAIT_MS shortens them in proportion for tests, never below a
// wait of 6 s (stale after 5 s, beyond the 2-second stamps of FAT).
LockTimes gameLockTimes();
LockTimes lockTimesFor(int waitMs);

// A lock file holds the owner line (the holder's mark and a number of its game's
// own), then the bytes its heartbeat adds. Far fewer bytes than this are read.
inline constexpr std::size_t kLockTextLimit = 512;
std::string lockText(const std::string& owner);
std::string ownerLineOf(const std::string& text);
std::string markOf(const std::string& text);  // the owner line without the game's number

enum class Verdict { Held, Stale, Blocked };

// What a waiting game has seen of a lock, and since when.
struct Watch {
    bool seen = false;
    platform::NameLook look{};
    std::int64_t sinceMs = 0;
};

bool sameLook(const platform::NameLook& a, const platform::NameLook& b);

// A lock is held while a live process holds the system's lock on it, or its
// holder ran here and still runs. Otherwise it is stale when its holder ran here
// and has ended, or when it stayed unchanged for staleMs of this game's own
// waiting (its holder stopped or crashed on another machine, or is no game at
// all). Time stamps are never compared with any clock. Blocked: a folder stands
// under the name.
Verdict judgeLock(const platform::NameLook& look, Watch& watch, const LockTimes& times);

// True for what no live game holds, told at one look: a link, FIFO or device, or
// a lock whose holder ran here and has ended.
bool isLeftOver(const platform::NameLook& look);

enum class Clearing { Cleared, Held, Failed };

// Removes the stale lock judged, under the system's lock on it where there is
// one: a lock that changed since it was judged, or that a live process holds,
// is left alone (Held). Failed, with why saying what to do, when it cannot be removed.
Clearing clearStaleLock(const platform::NameLook& judged, std::string& why);

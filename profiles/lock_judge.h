// Telling a lock that a live game holds from one that no game holds, by what is
// true on every file system: a holder's pid only where it ran here, in this
// system and pid namespace; the lock file's content, which its holder refreshes;
// and time stamps compared only with stamps that the same folder gave.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"

// How long the lock's waits last. PROZOROMETR_LOCK_WAIT_MS shortens them all in
// proportion, for tests; the game itself never needs it.
struct LockTimes {
    int waitMs;      // the longest wait for another game's lock
    int staleMs;     // a lock that stays unchanged this long has no live holder
    int beatMs;      // how often a holder refreshes its lock
    int oldMs;       // a lock older than this by the folder's own clock is stale at once
    int announceMs;  // a wait this long is announced on stderr
};
LockTimes lockTimes();

// A lock file holds the owner line (the holder's mark and a number of its game's
// own), then the bytes its heartbeat adds. Far fewer bytes than this are read.
inline constexpr std::size_t kLockTextLimit = 512;
std::string lockText(const std::string& owner);
std::string ownerLineOf(const std::string& text);
std::string markOf(const std::string& text);  // the owner line without the game's number

// The folder's clock: the time stamp its file system gives a byte just added to a
// file of this game's own, read again after a while and counted on from the
// steady clock in between. 0 when it cannot be read.
struct FolderClock {
    platform::FileHandle file = platform::kNoFile;  // open for writing at its end
    std::string text;  // the lock text it was made with
    std::int64_t nowNs = 0;
    std::int64_t readMs = 0;
};
std::int64_t folderNow(FolderClock& clock);

enum class Verdict { Held, Stale, Blocked };

// What a waiting game has seen of a lock, and since when.
struct Watch {
    bool seen = false;
    platform::NameLook look{};
    std::int64_t sinceMs = 0;
};

bool sameLook(const platform::NameLook& a, const platform::NameLook& b);

// A lock is stale when its holder ran here and has ended; when it stayed unchanged
// for staleMs of this game's own waiting (its holder stopped, crashed on another
// machine, or is no game at all); or when the folder's clock makes it older than
// oldMs. A stamp ahead of the folder's clock proves nothing either way. Blocked: a
// folder stands under the name.
Verdict judgeLock(const platform::NameLook& look, Watch& watch, std::int64_t folderNowNs, const LockTimes& times);

// True for what no live game holds, told at one look: a link, FIFO or device, or
// a lock whose holder ran here and has ended.
bool isLeftOver(const platform::NameLook& look);

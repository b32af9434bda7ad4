// The holder's side of the writers' lock while a save runs: a beat on a thread of
// its own adds a byte to the lock file at a steady pace, so that a save that runs
// long (a big score file on a slow share) is never taken for a stopped one where
// only the lock's content tells.
#pragma once

#include <atomic>
#include <memory>

#include "platform/platform.h"

class LockHeartbeat {
public:
    // Adds a byte at the end of file every periodMs until destroyed.
    LockHeartbeat(platform::FileHandle file, int periodMs);
    LockHeartbeat(const LockHeartbeat&) = delete;
    LockHeartbeat& operator=(const LockHeartbeat&) = delete;

    // True once a beat could not be written (a share gone away): others may then
    // take the lock for a stopped one's.
    bool failed() const { return failed_; }

private:
    std::atomic<bool> failed_{false};
    std::unique_ptr<platform::Ticker> ticker_;  // last: stopped before the rest goes
};

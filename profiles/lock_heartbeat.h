// The holder's side of the writers' lock while a save runs: a thread of its own
// adds a byte to the lock file at a steady pace, so that a save that runs long (a
// big score file on a slow share) is never taken for a stopped one.
#pragma once

#include <atomic>
#include <thread>

#include "platform/platform.h"

class LockHeartbeat {
public:
    // Adds a byte to file, open for writing at its end, every periodMs until destroyed.
    LockHeartbeat(platform::FileHandle file, int periodMs);
    ~LockHeartbeat();  // stops the thread and waits for it
    LockHeartbeat(const LockHeartbeat&) = delete;
    LockHeartbeat& operator=(const LockHeartbeat&) = delete;

private:
    void beat();

    platform::FileHandle file_;
    int periodMs_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

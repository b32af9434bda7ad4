// The holder's side of the writers' lock while a save runs: a thread of its own
// rewrites a count in the lock file at a steady pace, so that a save that runs
// long (a big score file on a slow share) is never taken for a stopped one.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "platform/platform.h"

class LockHeartbeat {
public:
    // Rewrites the count at offset of file every periodMs until destroyed.
    LockHeartbeat(platform::FileHandle file, std::int64_t offset, int periodMs);
    ~LockHeartbeat();  // stops the thread and waits for it
    LockHeartbeat(const LockHeartbeat&) = delete;
    LockHeartbeat& operator=(const LockHeartbeat&) = delete;

private:
    void beat();

    platform::FileHandle file_;
    std::int64_t offset_;
    int periodMs_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

// The count line as the lock file holds it: ten digits and a line feed, so that a
// later count overwrites an earlier one whole.
inline constexpr int kBeatLineLength = 11;
void formatBeat(char (&line)[kBeatLineLength + 1], std::uint32_t count);

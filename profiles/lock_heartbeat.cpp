// The lock's heartbeat: a count rewritten in place, each write changing the
// file's content and its time stamp, which is what waiting games look at.
#include "profiles/lock_heartbeat.h"

#include <algorithm>
#include <cstdio>

void formatBeat(char (&line)[kBeatLineLength + 1], std::uint32_t count) {
    std::snprintf(line, sizeof line, "%010lu\n", static_cast<unsigned long>(count));
}

LockHeartbeat::LockHeartbeat(platform::FileHandle file, std::int64_t offset, int periodMs)
    : file_(file), offset_(offset), periodMs_(periodMs), thread_(&LockHeartbeat::beat, this) {}

LockHeartbeat::~LockHeartbeat() {
    stopping_ = true;
    thread_.join();
}

// The thread sleeps in short slices and counts time on the steady clock, never
// with a timed wait: a game run under a shifted clock (as tests of skewed
// machines do) must beat at the same pace. A failed write is let pass: the lock
// then looks stopped to others after a while, and the save finds out before it
// puts its copy in place.
void LockHeartbeat::beat() {
    const int slice = std::min(periodMs_, 20);
    std::int64_t next = platform::steadyMs() + periodMs_;
    for (std::uint32_t count = 1; !stopping_; platform::pauseMs(slice)) {
        if (platform::steadyMs() < next) continue;
        char line[kBeatLineLength + 1];
        formatBeat(line, count++);
        platform::writeBytesAt(file_, offset_, line, kBeatLineLength);
        next += periodMs_;
    }
}

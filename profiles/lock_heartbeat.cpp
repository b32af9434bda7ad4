// The lock's heartbeat: each beat adds a byte at the lock file's end, which
// changes its size, content and time stamp, what waiting games look at. Bytes are
// only ever added at the end: some file systems (fusefat) misplace a write made
// anywhere else, and the owner line must stay as it was written.
#include "profiles/lock_heartbeat.h"

#include <algorithm>

LockHeartbeat::LockHeartbeat(platform::FileHandle file, int periodMs)
    : file_(file), periodMs_(periodMs), thread_(&LockHeartbeat::beat, this) {}

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
    for (; !stopping_; platform::pauseMs(slice)) {
        if (platform::steadyMs() < next) continue;
        platform::writeBytes(file_, ".", 1);
        next += periodMs_;
    }
}

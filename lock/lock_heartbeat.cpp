// The lock's heartbeat: each beat adds a byte at the lock file's end, which
// changes its size, content and time stamp, what waiting games look at. Bytes are
// only ever added at the end: some file systems (fusefat) misplace a write made
// anywhere else, and the owner line must stay as it was written.
#include "lock/lock_heartbeat.h"

LockHeartbeat::LockHeartbeat(platform::FileHandle file, int periodMs)
    : ticker_(platform::startTicker(periodMs, [this, file] {
          if (!platform::writeBytes(file, ".", 1)) failed_ = true;
      })) {}

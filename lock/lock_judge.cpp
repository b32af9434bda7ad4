// Judging and clearing locks (see lock_judge.h): the system's lock and the pid
// where they tell, else the waiter's own steady clock for how long a lock stayed
// unchanged.
#include "lock/lock_judge.h"

#include <algorithm>
#include <cstdlib>

#include "core/run_state.h"
#include "lock/save_safety.h"

namespace {

constexpr int kGameWaitMs = 30000;
constexpr int kShortestTestWaitMs = 6000;

}  // namespace

LockTimes lockTimesFor(int waitMs) {
    return LockTimes{waitMs, waitMs * 5 / 6, std::max(waitMs / 30, 1), std::min(1000, waitMs / 3)};
}

LockTimes gameLockTimes() {
    int wait = kGameWaitMs;
    if (const char* setting = std::getenv("PROZOROMETR_LOCK_WAIT_MS")) {
        wait = std::clamp(std::atoi(setting), kShortestTestWaitMs, 600000);
    }
    return lockTimesFor(wait);
}

std::string lockText(const std::string& owner) { return owner + "\n"; }

std::string ownerLineOf(const std::string& text) { return text.substr(0, text.find('\n')); }

std::string markOf(const std::string& text) {
    std::string owner = ownerLineOf(text);
    return owner.substr(0, owner.rfind(' '));
}

bool sameLook(const platform::NameLook& a, const platform::NameLook& b) {
    return a.kind == b.kind && a.text == b.text && a.identity == b.identity;
}

bool isLeftOver(const platform::NameLook& look) {
    return look.kind == platform::NameKind::Other ||  // no game makes a link, FIFO or device
           (look.kind == platform::NameKind::Regular &&
            platform::judgeHolder(markOf(look.text)) == platform::Holder::Gone);
}

Verdict judgeLock(const platform::NameLook& look, Watch& watch, const LockTimes& times) {
    if (look.kind == platform::NameKind::Folder) return Verdict::Blocked;
    if (saveSafety.systemLock && look.kind == platform::NameKind::Regular && platform::lockFileInUse(kLockFile)) {
        watch.seen = false;  // a live holder: it is never judged by time
        return Verdict::Held;
    }
    if (look.kind == platform::NameKind::Other) return Verdict::Stale;  // no game makes a link, FIFO or device
    platform::Holder holder = platform::judgeHolder(markOf(look.text));
    if (holder != platform::Holder::Unknown) return holder == platform::Holder::Gone ? Verdict::Stale : Verdict::Held;
    std::int64_t now = platform::steadyMs();
    if (!watch.seen || !sameLook(watch.look, look)) {
        watch = Watch{true, look, now};
        return Verdict::Held;
    }
    return now - watch.sinceMs >= times.staleMs ? Verdict::Stale : Verdict::Held;
}

// Under the system's lock on the file judged, where there is one, no other game
// clears it meanwhile, and the name still holds it when it is removed (only a
// game clearing it could remove it). Where there is none, a game stalled between
// its look and the removal may remove a lock taken meanwhile: its holder then
// finds it lost before it commits. A share refuses to remove a file that a
// stopped holder still has open (EBUSY): such a lock stays held.
Clearing clearStaleLock(const platform::NameLook& judged, std::string& why) {
    platform::FileHandle held = platform::kNoFile;
    bool lockable = saveSafety.systemLock && judged.kind == platform::NameKind::Regular;
    platform::ClearingLock claim = lockable ? platform::lockForClearing(kLockFile, judged.identity, held)
                                            : platform::ClearingLock::Unavailable;
    if (claim == platform::ClearingLock::Held || claim == platform::ClearingLock::Changed) return Clearing::Held;
    // A share removes no file that is open, this game's own clearing included:
    // there the lock is let go first, as where there is none.
    bool removed = platform::removeName(kLockFile, held == platform::kNoFile ? platform::Tries::Several
                                                                           : platform::Tries::Once);
    if (!removed && held != platform::kNoFile && platform::lastFailure() == platform::Failure::Busy) {
        platform::closeFile(held);
        held = platform::kNoFile;
        removed = platform::removeName(kLockFile);
    }
    platform::Failure failure = platform::lastFailure();
    std::string words = platform::lastErrorText();
    platform::closeFile(held);
    if (removed) return Clearing::Cleared;
    if (failure == platform::Failure::Busy) return Clearing::Held;
    why = std::string(kLockFile) + " was left by a game that ended, and it cannot be removed (" + words +
          "): ask its owner or the folder's owner to remove it";
    return Clearing::Failed;
}

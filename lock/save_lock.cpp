// The writers' lock, written once for every system above the platform's single
// steps: a game creates the lock's name exclusively, waits while a live game
// holds it, and clears on the way a lock that no game holds.
#include "lock/save_lock.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "core/run_state.h"
#include "lock/failure_words.h"
#include "lock/lock_heartbeat.h"
#include "lock/save_safety.h"

namespace {

enum class Step { Taken, Busy, Again, Failed };

// A wait for the lock: paced, bounded for each holder, announced once.
struct Waiting {
    std::int64_t start;
    platform::NameLook seen;  // the lock as seen last
    std::int64_t unchangedSince;
    std::int64_t holderSince;  // since the owner line seen last stands
    int pauseMs;
    bool announced;
};

// A holder that beats is waited for this many times as long as one that does not.
constexpr int kBeatingHolderWaits = 4;

std::string hexNumber(std::uint64_t number) {
    char text[17];
    std::snprintf(text, sizeof text, "%016" PRIx64, number);
    return text;
}

// The lock's name created: the owner line goes in, and the heartbeat starts.
Step holdNewLock(SaveLock& lock, platform::FileHandle file, const LockTimes& times, std::string& why) {
    std::string text = lockText(lock.owner);
    if (!platform::writeBytes(file, text.data(), text.size())) {
        why = withCause("cannot write " + std::string(kLockFile) + ": " + platform::lastErrorText());
        platform::dropLockFile(kLockFile, file);
        return Step::Failed;
    }
    lock.file = file;
    if (saveSafety.heartbeat) lock.heartbeat = std::make_unique<LockHeartbeat>(file, times.beatMs);
    return Step::Taken;
}

Step claimOnce(SaveLock& lock, const LockTimes& times, std::string& why) {
    platform::FileHandle file = platform::createLockFile(kLockFile);
    if (file != platform::kNoFile) return holdNewLock(lock, file, times, why);
    if (platform::lastFailure() == platform::Failure::Exists) return Step::Busy;
    why = withCause("cannot make " + std::string(kLockFile) + ": " + platform::lastErrorText());
    return Step::Failed;
}

// Each holder is waited for on its own: a class that ends its games in the same
// second queues, each save brief. One that shows no change for waitMs has
// stopped or hangs; one that beats (a long save on a slow share) is waited for
// longer, but not without end.
bool waitMore(Waiting& waiting, const platform::NameLook& look, const LockTimes& times, WaitNotice notice,
              std::string& why) {
    std::int64_t now = platform::steadyMs();
    if (!sameLook(look, waiting.seen) && saveSafety.queue) {
        if (ownerLineOf(look.text) != ownerLineOf(waiting.seen.text) || look.kind != waiting.seen.kind) {
            waiting.holderSince = now;
        }
        waiting.seen = look;
        waiting.unchangedSince = now;
    }
    std::string held = "another game has held it for " + std::to_string((now - waiting.holderSince) / 1000) + " seconds";
    if (now - waiting.unchangedSince >= times.waitMs) {
        why = held + " without a sign of life (it may have been stopped)";
        return false;
    }
    if (now - waiting.holderSince >= std::int64_t{kBeatingHolderWaits} * times.waitMs) {
        why = held + " and is not done yet";
        return false;
    }
    if (!waiting.announced && now - waiting.start >= times.announceMs) {
        if (notice != nullptr) notice((times.waitMs + 999) / 1000);
        waiting.announced = true;
    }
    int longest = std::clamp(times.waitMs / 100, 1, 50);
    platform::pauseMs(waiting.pauseMs + static_cast<int>(now % 7));  // games need not poll together
    waiting.pauseMs = std::min(waiting.pauseMs * 2, longest);
    return true;
}

// One look at a lock found under the name: cleared when stale, or waited for.
Step judgeBusyLock(Watch& watch, Waiting& waiting, const LockTimes& times, WaitNotice notice, std::string& why) {
    platform::NameLook look;
    if (!platform::lookAtName(kLockFile, kLockTextLimit, look)) {
        why = withCause("cannot read " + std::string(kLockFile) + ": " + platform::lastErrorText());
        return Step::Failed;
    }
    if (look.kind == platform::NameKind::Absent) return Step::Again;
    Verdict verdict = judgeLock(look, watch, times);
    if (verdict == Verdict::Blocked) {
        why = "a folder stands at " + std::string(kLockFile) + ": remove it";
        return Step::Failed;
    }
    if (verdict == Verdict::Stale) {
        Clearing clearing = clearStaleLock(look, why);
        if (clearing == Clearing::Failed) return Step::Failed;
        if (clearing == Clearing::Cleared) return Step::Again;
    }
    return waitMore(waiting, look, times, notice, why) ? Step::Busy : Step::Failed;
}

}  // namespace

// True when the name holds the very file this game created, naming no other
// holder: on a full share its text may never have reached it, and it is this
// game's all the same. (sshfs numbers files by name, so the number alone does not tell.)
bool isOwnLockFile(const SaveLock& lock, const platform::NameLook& look) {
    platform::FileIdentity mine;
    bool namesAnother = look.text.find('\n') != std::string::npos && ownerLineOf(look.text) != lock.owner;
    return look.kind == platform::NameKind::Regular && !namesAnother && platform::identifyFile(lock.file, mine) &&
           look.identity.device == mine.device && look.identity.node == mine.node;
}

SaveLock::SaveLock() : file(platform::kNoFile) {}
SaveLock::~SaveLock() { releaseSaveLock(*this); }

bool takeSaveLock(SaveLock& lock, const LockTimes& times, std::string& why, WaitNotice notice) {
    lock.number = hexNumber(platform::uniqueNumber());
    lock.owner = platform::holderMark() + " " + lock.number;
    std::int64_t now = platform::steadyMs();
    Waiting waiting{now, platform::NameLook{platform::NameKind::Absent, {}, "", 0}, now, now, 5, false};
    Watch watch;
    for (int quickTries = 0;;) {
        Step step = claimOnce(lock, times, why);
        if (step == Step::Busy) step = judgeBusyLock(watch, waiting, times, notice, why);
        if (step == Step::Taken) return true;
        if (step == Step::Failed) return false;
        platform::NameLook gone{platform::NameKind::Absent, {}, "", 0};
        if (step == Step::Again && ++quickTries % 16 == 0 && !waitMore(waiting, gone, times, notice, why)) return false;
    }
}

bool holdsSaveLock(const SaveLock& lock, std::string& why) {
    if (lock.file == platform::kNoFile) return false;
    if (lock.heartbeat && lock.heartbeat->failed() && !platform::writeBytes(lock.file, ".", 1)) {
        why = withCause("the lock could not be kept fresh: " + std::string(platform::lastErrorText()));
        return false;
    }
    platform::NameLook look;
    if (!platform::lookAtName(kLockFile, kLockTextLimit, look)) {
        why = withCause("cannot read " + std::string(kLockFile) + ": " + platform::lastErrorText());
        return false;
    }
    if (look.kind == platform::NameKind::Regular && ownerLineOf(look.text) == lock.owner) return true;
    why = isOwnLockFile(lock, look) ? "what this game wrote into " + std::string(kLockFile) +
                                          " never reached it (the disk or share may be full)"
                                    : "another game took over the lock while this one was stopped";
    return false;
}

bool checkLockBeforeCommit(const SaveLock& lock, std::string& why) {
    return !saveSafety.checkLockBeforeCommit || holdsSaveLock(lock, why);
}

void releaseSaveLock(SaveLock& lock) {
    if (lock.file == platform::kNoFile) return;
    lock.heartbeat.reset();
    std::string why;
    platform::NameLook look;
    bool own = platform::lookAtName(kLockFile, kLockTextLimit, look) && isOwnLockFile(lock, look);
    if (own || holdsSaveLock(lock, why)) {
        platform::dropLockFile(kLockFile, lock.file);
    } else {
        platform::closeFile(lock.file);  // cleared while this game was stopped: the name is another's now
    }
    lock.file = platform::kNoFile;
}

std::string lockObstacle() {
    if (!platform::mayCreateBeside(kLockFile)) {
        return std::string("saves need to create ") + kLockFile + " in this folder, and " + platform::lastErrorText();
    }
    platform::NameLook look;
    if (!platform::lookAtName(kLockFile, kLockTextLimit, look)) return "";  // the save will say more
    if (look.kind == platform::NameKind::Folder) return "a folder stands at " + std::string(kLockFile) + ": remove it";
    if (isLeftOver(look) && !platform::mayReplaceName(kLockFile)) {
        return std::string(kLockFile) + " was left by a game that ended, and this player may not remove it (" +
               platform::lastErrorText() + "): ask its owner or the folder's owner to remove it";
    }
    return "";
}

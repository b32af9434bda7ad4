// The writers' lock, written once for every system above the platform's single
// steps. A game claims the lock's name with a file of its own (a hard link to it,
// or the name created at once where the file system has no links), waits while a
// live game holds it, and clears on the way a lock that no game holds.
#include "profiles/save_lock.h"

#include <algorithm>
#include <cstdio>
#include <random>

#include "core/run_state.h"
#include "profiles/failure_words.h"
#include "profiles/lock_clearing.h"
#include "profiles/lock_heartbeat.h"
#include "profiles/lock_judge.h"

namespace {

constexpr int kLongestPauseMs = 50;

// A number no other game picks, so that an owner line is this game's alone even
// where pids repeat (another machine, a container).
std::string uniqueNumber() {
    std::random_device device;
    std::mt19937_64 mix((static_cast<std::uint64_t>(device()) << 32) ^ device() ^
                        static_cast<std::uint64_t>(platform::steadyMs()));
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(mix()));
    return text;
}

// The game's own file beside the lock's name, under a name no other game uses; it
// becomes the lock by a hard link, or, where the folder has none, serves only as
// the folder's clock while the lock's name is created at once.
struct Claim {
    std::string ownName;
    FolderClock own;  // its file and the lock's text
    bool linked = true;
    platform::FileHandle lockFile = platform::kNoFile;  // the lock's name created at once
    Watch lockWatch, clearerWatch;
};

enum class Step { Taken, Busy, Again, Failed };

// Writes the lock's text into file and forces it to disk: a share that takes
// writes it cannot store (a full one) says so only there.
bool writeLockText(platform::FileHandle file, const std::string& text) {
    return platform::writeBytes(file, text.data(), text.size()) && platform::syncToDisk(file);
}

bool createOwnFile(Claim& claim, std::string& why) {
    std::string owner = ownerLineOf(claim.own.text);
    std::string base = std::string(kLockFile) + "." + owner.substr(owner.rfind(' ') + 1);
    for (int attempt = 0; attempt < 100 && claim.own.file == platform::kNoFile; ++attempt) {
        claim.ownName = attempt == 0 ? base : base + "." + std::to_string(attempt);
        claim.own.file = platform::createLockFile(claim.ownName.c_str());
        platform::Failure failure = platform::lastFailure();  // Missing: taken for a leftover as it was made
        if (claim.own.file == platform::kNoFile && failure != platform::Failure::Exists &&
            failure != platform::Failure::Missing) {
            break;
        }
    }
    if (claim.own.file != platform::kNoFile && writeLockText(claim.own.file, claim.own.text)) return true;
    why = withCause(std::string("cannot create a file in this folder: ") + platform::lastErrorText());
    return false;
}

// The game's own file, removed by another game that took it for a leftover in
// the moment before its text was written, is made anew.
Step renewOwnFile(Claim& claim, std::string& why) {
    platform::closeFile(claim.own.file);
    claim.own.file = platform::kNoFile;
    return createOwnFile(claim, why) ? Step::Again : Step::Failed;
}

Step claimOnce(Claim& claim, std::string& why) {
    if (claim.linked) {
        if (platform::linkName(claim.ownName.c_str(), kLockFile)) return Step::Taken;
        if (platform::lastFailure() == platform::Failure::NoLinks) {
            claim.linked = false;
            return Step::Again;
        }
        if (platform::lastFailure() == platform::Failure::Missing) return renewOwnFile(claim, why);
    } else {
        claim.lockFile = platform::createLockFile(kLockFile);
        if (claim.lockFile != platform::kNoFile) {
            if (writeLockText(claim.lockFile, claim.own.text)) return Step::Taken;
            why = withCause("cannot write " + std::string(kLockFile) + ": " + platform::lastErrorText());
            platform::dropLockFile(kLockFile, claim.lockFile);
            claim.lockFile = platform::kNoFile;
            return Step::Failed;
        }
    }
    if (platform::lastFailure() == platform::Failure::Exists) return Step::Busy;
    why = withCause("cannot make " + std::string(kLockFile) + ": " + platform::lastErrorText());
    return Step::Failed;
}

// A wait for the lock: paced, bounded, announced once it has lasted a while.
struct Waiting {
    std::int64_t start;
    int pauseMs;
    bool announced;
};

bool waitMore(Waiting& waiting, const LockTimes& times, std::string& why) {
    std::int64_t waited = platform::steadyMs() - waiting.start;
    if (waited >= times.waitMs) {
        why = "another game held the lock for too long";
        return false;
    }
    if (!waiting.announced && waited >= times.announceMs) {
        std::fprintf(stderr, "prozorometr: another game is saving; waiting up to %d seconds for %s\n",
                     (times.waitMs + 999) / 1000, kLockFile);
        waiting.announced = true;
    }
    platform::pauseMs(waiting.pauseMs + static_cast<int>(platform::steadyMs() % 7));  // games need not poll together
    waiting.pauseMs = std::min(waiting.pauseMs * 2, kLongestPauseMs);
    return true;
}

// One look at a lock found under the name: taken by this game after all (a reply
// lost on a share), cleared when stale, or waited for.
Step judgeBusyLock(Claim& claim, Waiting& waiting, std::string& why) {
    const LockTimes times = lockTimes();
    platform::NameLook look;
    if (!platform::lookAtName(kLockFile, kLockTextLimit, look)) {
        why = "cannot read " + std::string(kLockFile) + ": " + platform::lastErrorText();
        return Step::Failed;
    }
    if (look.kind == platform::NameKind::Absent) return Step::Again;
    bool ours = look.kind == platform::NameKind::Regular && ownerLineOf(look.text) == ownerLineOf(claim.own.text);
    if (claim.linked && ours) return Step::Taken;
    Verdict verdict = judgeLock(look, claim.lockWatch, folderNow(claim.own), times);
    if (verdict == Verdict::Blocked) {
        why = "a folder stands at " + std::string(kLockFile) + ": remove it";
        return Step::Failed;
    }
    if (verdict == Verdict::Stale) {
        Clearing clearing = clearStaleLock(look, claim.own, claim.clearerWatch, why);
        if (clearing == Clearing::Failed) return Step::Failed;
        if (clearing == Clearing::Cleared) return Step::Again;
    }
    return waitMore(waiting, times, why) ? Step::Busy : Step::Failed;
}

// Tries to claim the name until the lock is taken, the wait runs out or a claim fails.
bool waitForLock(Claim& claim, std::string& why) {
    Waiting waiting{platform::steadyMs(), 5, false};
    for (int quickTries = 0;;) {
        Step step = claimOnce(claim, why);
        if (step == Step::Busy) step = judgeBusyLock(claim, waiting, why);
        if (step == Step::Taken) return true;
        if (step == Step::Failed) return false;
        if (step == Step::Again && ++quickTries % 16 == 0 && !waitMore(waiting, lockTimes(), why)) return false;
    }
}

// The lock's file, open for the heartbeat: the name created at once, or the name
// linked to, opened anew once the game's own name is gone. Nothing is removed
// while it is open: shares refuse it, and some keep a hidden copy.
platform::FileHandle openTakenLock(Claim& claim) {
    platform::closeFile(claim.own.file);
    claim.own.file = platform::kNoFile;
    platform::removeName(claim.ownName.c_str());
    if (!claim.linked) return claim.lockFile;
    platform::FileHandle lock = platform::openForUpdate(kLockFile);
    if (lock != platform::kNoFile && !platform::seekTo(lock, platform::sizeOf(lock))) {
        platform::closeFile(lock);  // the heartbeat must add at the end
        return platform::kNoFile;
    }
    return lock;
}

void dropClaim(Claim& claim) {
    if (claim.own.file == platform::kNoFile) return;
    platform::closeFile(claim.own.file);
    platform::removeName(claim.ownName.c_str());
}

}  // namespace

SaveLock::SaveLock() : file(platform::kNoFile) {}
SaveLock::~SaveLock() { releaseSaveLock(*this); }

bool takeSaveLock(SaveLock& lock, std::string& why) {
    Claim claim;
    lock.owner = platform::holderMark() + " " + uniqueNumber();
    claim.own.text = lockText(lock.owner);
    if (!createOwnFile(claim, why) || !waitForLock(claim, why)) {
        dropClaim(claim);
        return false;
    }
    removeLeftovers(claim.own, claim.ownName);
    lock.file = openTakenLock(claim);
    if (lock.file == platform::kNoFile || !holdsSaveLock(lock)) {
        why = "the lock was lost as soon as it was taken";
        platform::closeFile(lock.file);
        lock.file = platform::kNoFile;
        return false;
    }
    lock.heartbeat = std::make_unique<LockHeartbeat>(lock.file, lockTimes().beatMs);
    return true;
}

bool holdsSaveLock(const SaveLock& lock) {
    platform::NameLook look;
    return lock.file != platform::kNoFile && platform::lookAtName(kLockFile, kLockTextLimit, look) &&
           look.kind == platform::NameKind::Regular && ownerLineOf(look.text) == lock.owner;
}

void releaseSaveLock(SaveLock& lock) {
    if (lock.file == platform::kNoFile) return;
    lock.heartbeat.reset();
    if (holdsSaveLock(lock)) {
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

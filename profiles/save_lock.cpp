// The writers' lock, written once for every system above the platform's single
// steps. A game claims the lock's name with a file of its own (a hard link to it,
// or the name created at once where the file system has no links), waits while a
// live game holds it, and clears a lock whose holder has ended or stopped. What
// is trusted on every file system: a holder's pid only where it ran here, in
// this system and pid namespace; a lock file's content, refreshed by its holder;
// and time stamps compared only with stamps the same folder gave.
#include "profiles/save_lock.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "core/run_state.h"
#include "profiles/failure_words.h"
#include "profiles/lock_heartbeat.h"

namespace {

constexpr std::size_t kLockTextLimit = 512;  // a holder's two lines are far shorter
constexpr int kLongestPauseMs = 50;

// The lock file's content: the owner line, then the heartbeat's count.
std::string lockText(const std::string& owner) {
    char beat[kBeatLineLength + 1];
    formatBeat(beat, 0);
    return owner + "\n" + beat;
}

std::string ownerLineOf(const std::string& text) { return text.substr(0, text.find('\n')); }

// The holder's mark: the owner line without its last word, the game's own number.
std::string markOf(const std::string& text) {
    std::string owner = ownerLineOf(text);
    return owner.substr(0, owner.rfind(' '));
}

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

std::string failureWords() { return platform::lastErrorText(); }

}  // namespace

LockTimes lockTimes() {
    int wait = 30000;
    if (const char* setting = std::getenv("PROZOROMETR_LOCK_WAIT_MS")) {
        wait = std::clamp(std::atoi(setting), 300, 600000);
    }
    return LockTimes{wait, wait / 3, std::max(wait / 30, 10), wait * 2, std::min(1000, wait / 3)};
}

SaveLock::SaveLock() : file(platform::kNoFile) {}
SaveLock::~SaveLock() { releaseSaveLock(*this); }

// ------------------------------------------------------------- judging a lock

namespace {

enum class Verdict { Held, Stale, Blocked };

// What a waiting game has seen of the lock it waits for, and since when.
struct Watch {
    bool seen = false;
    platform::NameLook look{};
    std::int64_t sinceMs = 0;
};

bool sameLook(const platform::NameLook& a, const platform::NameLook& b) {
    return a.kind == b.kind && a.text == b.text && a.identity.device == b.identity.device &&
           a.identity.node == b.identity.node && a.identity.size == b.identity.size &&
           a.identity.modified == b.identity.modified;
}

// A lock is stale when its holder ran here and has ended; when it has stayed
// unchanged for staleMs of this game's own waiting (its holder stopped, crashed on
// another machine, or is no game at all); or when the folder's own clock makes it
// older than oldMs. A stamp ahead of the folder's clock proves nothing either way.
Verdict judgeLock(const platform::NameLook& look, Watch& watch, std::int64_t folderNowNs, const LockTimes& times) {
    if (look.kind == platform::NameKind::Folder) return Verdict::Blocked;
    if (look.kind == platform::NameKind::Other) return Verdict::Stale;  // no game makes a link, FIFO or device
    if (platform::judgeHolder(markOf(look.text)) == platform::Holder::Gone) return Verdict::Stale;
    std::int64_t now = platform::steadyMs();
    if (!watch.seen || !sameLook(watch.look, look)) {
        watch = Watch{true, look, now};
    } else if (now - watch.sinceMs >= times.staleMs) {
        return Verdict::Stale;
    }
    bool known = folderNowNs != 0;
    return known && folderNowNs - look.identity.modified > std::int64_t{times.oldMs} * 1000000 ? Verdict::Stale
                                                                                               : Verdict::Held;
}

enum class Clearing { Cleared, Held, Failed };

// Clears the stale lock judged: moves it aside under a name of this game's, then
// removes it there if it is the lock judged. Another game's lock that took the
// name meanwhile is put back, never removed, so two games judging one stale lock
// never both clear it. A share that refuses to move a file still open (its
// holder has stopped, not ended) keeps it held.
Clearing clearStaleLock(const platform::NameLook& judged, const std::string& aside, std::string& why) {
    if (!platform::moveName(kLockFile, aside.c_str())) {
        platform::Failure failure = platform::lastFailure();
        if (failure == platform::Failure::Missing) return Clearing::Cleared;  // gone already
        if (failure == platform::Failure::Busy) return Clearing::Held;
        why = std::string(kLockFile) + " was left by a game that ended, and it cannot be removed (" +
              failureWords() + "): ask its owner or the folder's owner to remove it";
        return Clearing::Failed;
    }
    platform::NameLook moved;
    bool same = platform::lookAtName(aside.c_str(), kLockTextLimit, moved) && moved.kind == judged.kind &&
                moved.text == judged.text;
    if (!same && !platform::linkName(aside.c_str(), kLockFile) &&
        platform::lastFailure() == platform::Failure::NoLinks && !platform::nameExists(kLockFile)) {
        platform::moveName(aside.c_str(), kLockFile);
    }
    platform::removeName(aside.c_str());
    return Clearing::Cleared;
}

}  // namespace

// ------------------------------------------------------------- claiming the name

namespace {

// The game's own file beside the lock's name, under a name no other game uses; it
// becomes the lock by a hard link, or, where the folder has none, serves only as
// the folder's clock while the lock's name is created at once.
struct Claim {
    std::string ownName;
    platform::FileHandle own = platform::kNoFile;
    std::string text;
    bool linked = true;
    platform::FileHandle lockFile = platform::kNoFile;  // the lock's name created at once
    std::int64_t folderNowNs = 0;                        // the folder's clock when it was last read
    std::int64_t folderReadMs = 0;
};

bool createOwnFile(Claim& claim, const std::string& owner, std::string& why) {
    std::string base = std::string(kLockFile) + "." + owner.substr(owner.rfind(' ') + 1);
    for (int attempt = 0; attempt < 100 && claim.own == platform::kNoFile; ++attempt) {
        claim.ownName = attempt == 0 ? base : base + "." + std::to_string(attempt);
        claim.own = platform::createLockFile(claim.ownName.c_str());
        if (claim.own == platform::kNoFile && platform::lastFailure() != platform::Failure::Exists) break;
    }
    if (claim.own != platform::kNoFile && platform::writeBytes(claim.own, claim.text.data(), claim.text.size())) {
        return true;
    }
    why = withCause("cannot create a file in this folder: " + failureWords());
    return false;
}

// The folder's clock: the time stamp its file system gives a write just made, read
// again after a while, and in between counted on from the steady clock.
std::int64_t folderNow(Claim& claim) {
    std::int64_t now = platform::steadyMs();
    if (claim.folderNowNs == 0 || now - claim.folderReadMs > 1000) {
        platform::FileIdentity stamp;
        bool written = platform::writeBytesAt(claim.own, 0, claim.text.data(), claim.text.size());
        claim.folderNowNs = written && platform::identifyFile(claim.own, stamp) ? stamp.modified : 0;
        claim.folderReadMs = now;
    }
    return claim.folderNowNs == 0 ? 0 : claim.folderNowNs + (now - claim.folderReadMs) * 1000000;
}

enum class Step { Taken, Busy, Again, Failed };

Step claimOnce(Claim& claim, std::string& why) {
    if (claim.linked) {
        if (platform::linkName(claim.ownName.c_str(), kLockFile)) return Step::Taken;
        if (platform::lastFailure() == platform::Failure::NoLinks) {
            claim.linked = false;
            return Step::Again;
        }
    } else {
        claim.lockFile = platform::createLockFile(kLockFile);
        if (claim.lockFile != platform::kNoFile) {
            return platform::writeBytes(claim.lockFile, claim.text.data(), claim.text.size()) ? Step::Taken
                                                                                                : Step::Failed;
        }
    }
    if (platform::lastFailure() == platform::Failure::Exists) return Step::Busy;
    why = "cannot make " + std::string(kLockFile) + ": " + failureWords();
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
Step judgeBusyLock(Claim& claim, Watch& watch, Waiting& waiting, std::string& why) {
    const LockTimes times = lockTimes();
    platform::NameLook look;
    if (!platform::lookAtName(kLockFile, kLockTextLimit, look)) {
        why = "cannot read " + std::string(kLockFile) + ": " + failureWords();
        return Step::Failed;
    }
    if (look.kind == platform::NameKind::Absent) return Step::Again;
    if (claim.linked && look.kind == platform::NameKind::Regular && ownerLineOf(look.text) == ownerLineOf(claim.text)) {
        return Step::Taken;
    }
    switch (judgeLock(look, watch, folderNow(claim), times)) {
        case Verdict::Blocked:
            why = "a folder stands at " + std::string(kLockFile) + ": remove it";
            return Step::Failed;
        case Verdict::Stale:
            switch (clearStaleLock(look, claim.ownName + ".stale", why)) {
                case Clearing::Cleared: watch = Watch{}; return Step::Again;
                case Clearing::Failed: return Step::Failed;
                case Clearing::Held: break;
            }
            break;
        case Verdict::Held:
            break;
    }
    return waitMore(waiting, times, why) ? Step::Busy : Step::Failed;
}

// Tries to claim the name until the lock is taken, the wait runs out or a claim fails.
bool waitForLock(Claim& claim, std::string& why) {
    Watch watch;
    Waiting waiting{platform::steadyMs(), 5, false};
    for (int quickTries = 0;;) {
        Step step = claimOnce(claim, why);
        if (step == Step::Busy) step = judgeBusyLock(claim, watch, waiting, why);
        if (step == Step::Taken) return true;
        if (step == Step::Failed) return false;
        if (step == Step::Again && ++quickTries % 16 == 0 && !waitMore(waiting, lockTimes(), why)) return false;
    }
}

}  // namespace

// ------------------------------------------------------------- holding and releasing

namespace {

// Private lock names left by games that ended while they waited: removed by the
// game that holds the lock, once their holders are known to be gone or the
// folder's clock makes them old.
void removeLeftovers(Claim& claim) {
    std::vector<std::string> names;
    if (!platform::listNames((std::string(kLockFile) + ".").c_str(), names) || names.size() < 2) return;
    std::int64_t now = folderNow(claim);
    std::int64_t oldNs = std::int64_t{lockTimes().oldMs} * 1000000;
    for (const std::string& name : names) {
        platform::NameLook look;
        if (name == claim.ownName || !platform::lookAtName(name.c_str(), kLockTextLimit, look) ||
            look.kind != platform::NameKind::Regular) {
            continue;
        }
        bool gone = platform::judgeHolder(markOf(look.text)) == platform::Holder::Gone;
        if (gone || (now != 0 && now - look.identity.modified > oldNs)) platform::removeName(name.c_str());
    }
}

// The lock's file, open for the heartbeat: the name created at once, or the name
// linked to, opened anew once the game's own name is gone. Nothing is removed
// while it is open: shares refuse it, and some keep a hidden copy.
platform::FileHandle openTakenLock(Claim& claim) {
    platform::closeFile(claim.own);
    claim.own = platform::kNoFile;
    platform::removeName(claim.ownName.c_str());
    return claim.linked ? platform::openForUpdate(kLockFile) : claim.lockFile;
}

}  // namespace

bool takeSaveLock(SaveLock& lock, std::string& why) {
    Claim claim;
    lock.owner = platform::holderMark() + " " + uniqueNumber();
    claim.text = lockText(lock.owner);
    bool taken = createOwnFile(claim, lock.owner, why) && waitForLock(claim, why);
    if (taken) removeLeftovers(claim);
    lock.file = taken ? openTakenLock(claim) : platform::kNoFile;
    if (!taken) {
        platform::closeFile(claim.own);
        if (claim.own != platform::kNoFile) platform::removeName(claim.ownName.c_str());
        return false;
    }
    if (lock.file == platform::kNoFile || !holdsSaveLock(lock)) {
        why = "the lock was lost as soon as it was taken";
        platform::closeFile(lock.file);
        lock.file = platform::kNoFile;
        return false;
    }
    lock.heartbeat = std::make_unique<LockHeartbeat>(lock.file, static_cast<std::int64_t>(lock.owner.size() + 1),
                                                     lockTimes().beatMs);
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
        return std::string("saves need to create ") + kLockFile + " in this folder, and " + failureWords();
    }
    platform::NameLook look;
    if (!platform::lookAtName(kLockFile, kLockTextLimit, look)) return "";  // the save will say more
    if (look.kind == platform::NameKind::Folder) return "a folder stands at " + std::string(kLockFile) + ": remove it";
    bool leftOver = look.kind == platform::NameKind::Other ||
                    (look.kind == platform::NameKind::Regular &&
                     platform::judgeHolder(markOf(look.text)) == platform::Holder::Gone);
    if (leftOver && !platform::mayReplaceName(kLockFile)) {
        return std::string(kLockFile) + " was left by a game that ended, and this player may not remove it (" +
               failureWords() + "): ask its owner or the folder's owner to remove it";
    }
    return "";
}

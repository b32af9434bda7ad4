// Clearing stale locks and leftovers (see lock_clearing.h). The clearing lock is
// held for a moment only; a clearing lock whose game ended in that moment is
// judged by the rules of any lock.
#include "profiles/lock_clearing.h"

#include <vector>

#include "core/run_state.h"
#include "profiles/failure_words.h"

namespace {

const std::string kClearingName = std::string(kLockFile) + ".clearing";

// Another game is clearing a stale lock right now: waited for, unless its
// clearing lock is stale.
Clearing waitForClearer(FolderClock& clock, Watch& clearerWatch, std::string& why) {
    platform::NameLook look;
    if (!platform::lookAtName(kClearingName.c_str(), kLockTextLimit, look)) {
        why = "cannot read " + kClearingName + ": " + platform::lastErrorText();
        return Clearing::Failed;
    }
    if (look.kind == platform::NameKind::Folder) {
        why = "a folder stands at " + kClearingName + ": remove it";
        return Clearing::Failed;
    }
    if (look.kind != platform::NameKind::Absent &&
        judgeLock(look, clearerWatch, folderNow(clock), lockTimes()) == Verdict::Stale) {
        platform::removeName(kClearingName.c_str());
    }
    return Clearing::Held;
}

}  // namespace

// The lock is looked at again under the clearing lock and removed only if it is
// still the one judged, so a lock taken meanwhile is never removed. A share that
// refuses to remove a file still open (its holder has stopped, not ended) keeps
// it held.
Clearing clearStaleLock(const platform::NameLook& judged, FolderClock& clock, Watch& clearerWatch,
                        std::string& why) {
    platform::FileHandle clearing = platform::createLockFile(kClearingName.c_str());
    if (clearing == platform::kNoFile) {
        if (platform::lastFailure() == platform::Failure::Exists) return waitForClearer(clock, clearerWatch, why);
        why = withCause("cannot make " + kClearingName + ": " + platform::lastErrorText());
        return Clearing::Failed;
    }
    platform::NameLook now;
    bool marked = platform::writeBytes(clearing, clock.text.data(), clock.text.size());
    bool same = marked && platform::lookAtName(kLockFile, kLockTextLimit, now) && sameLook(now, judged);
    bool removed = !same || platform::removeName(kLockFile);
    platform::Failure failure = platform::lastFailure();
    std::string words = platform::lastErrorText();
    platform::dropLockFile(kClearingName.c_str(), clearing);
    if (removed) return Clearing::Cleared;
    if (failure == platform::Failure::Busy) return Clearing::Held;
    why = std::string(kLockFile) + " was left by a game that ended, and it cannot be removed (" + words +
          "): ask its owner or the folder's owner to remove it";
    return Clearing::Failed;
}

// A leftover's holder is known to be gone, the folder's clock makes it old, or
// its text never got its line end: a game writes its text whole right after it
// makes its file, so only a game killed in between leaves that.
void removeLeftovers(FolderClock& clock, const std::string& ownName) {
    std::vector<std::string> names;
    if (!platform::listNames((std::string(kLockFile) + ".").c_str(), names) || names.size() < 2) return;
    std::int64_t now = folderNow(clock);
    std::int64_t oldNs = std::int64_t{lockTimes().oldMs} * 1000000;
    for (const std::string& name : names) {
        platform::NameLook look;
        if (name == ownName || name == kClearingName ||
            !platform::lookAtName(name.c_str(), kLockTextLimit, look) || look.kind != platform::NameKind::Regular) {
            continue;
        }
        bool ended = look.text.find('\n') == std::string::npos || isLeftOver(look);
        if (ended || (now != 0 && now - look.identity.modified > oldNs)) platform::removeName(name.c_str());
    }
}

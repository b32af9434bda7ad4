// Judging locks (see lock_judge.h): the waiter's own steady clock for how long a
// lock stayed unchanged, the folder's clock for how old it is.
#include "profiles/lock_judge.h"

#include <algorithm>
#include <cstdlib>


LockTimes lockTimes() {
    int wait = 30000;
    if (const char* setting = std::getenv("PROZOROMETR_LOCK_WAIT_MS")) {
        wait = std::clamp(std::atoi(setting), 300, 600000);
    }
    return LockTimes{wait, wait / 3, std::max(wait / 30, 10), wait * 2, std::min(1000, wait / 3)};
}

std::string lockText(const std::string& owner) { return owner + "\n"; }

std::string ownerLineOf(const std::string& text) { return text.substr(0, text.find('\n')); }

std::string markOf(const std::string& text) {
    std::string owner = ownerLineOf(text);
    return owner.substr(0, owner.rfind(' '));
}

std::int64_t folderNow(FolderClock& clock) {
    std::int64_t now = platform::steadyMs();
    if (clock.nowNs == 0 || now - clock.readMs > 1000) {
        platform::FileIdentity stamp;
        bool written = platform::writeBytes(clock.file, ".", 1);  // at the end, as a heartbeat does
        clock.nowNs = written && platform::identifyFile(clock.file, stamp) ? stamp.modified : 0;
        clock.readMs = now;
    }
    return clock.nowNs == 0 ? 0 : clock.nowNs + (now - clock.readMs) * 1000000;
}

bool sameLook(const platform::NameLook& a, const platform::NameLook& b) {
    return a.kind == b.kind && a.text == b.text && a.identity.device == b.identity.device &&
           a.identity.node == b.identity.node && a.identity.size == b.identity.size &&
           a.identity.modified == b.identity.modified;
}

bool isLeftOver(const platform::NameLook& look) {
    return look.kind == platform::NameKind::Other ||  // no game makes a link, FIFO or device
           (look.kind == platform::NameKind::Regular &&
            platform::judgeHolder(markOf(look.text)) == platform::Holder::Gone);
}

Verdict judgeLock(const platform::NameLook& look, Watch& watch, std::int64_t folderNowNs, const LockTimes& times) {
    if (look.kind == platform::NameKind::Folder) return Verdict::Blocked;
    if (isLeftOver(look)) return Verdict::Stale;
    std::int64_t now = platform::steadyMs();
    if (!watch.seen || !sameLook(watch.look, look)) {
        watch = Watch{true, look, now};
    } else if (now - watch.sinceMs >= times.staleMs) {
        return Verdict::Stale;
    }
    bool old = folderNowNs != 0 && folderNowNs - look.identity.modified > std::int64_t{times.oldMs} * 1000000;
    return old ? Verdict::Stale : Verdict::Held;
}

// POSIX side of the platform layer: termios raw mode around the single key read,
// flock for the writers' lock, fsync and rename for durable atomic replacement.
#include "platform/platform.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace platform {
namespace {

// Signals that must not leave the terminal in raw mode. Stop signals are here too:
// the terminal gets its mode back while the game is suspended.
const int kGuardedSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP, SIGTTIN, SIGTTOU};
constexpr int kGuardedCount = sizeof(kGuardedSignals) / sizeof(kGuardedSignals[0]);

struct RawMode {
    struct termios saved;
    bool active;
    bool exitHookRegistered;
    struct sigaction oldActions[kGuardedCount];
};
RawMode rawMode;
volatile std::sig_atomic_t caughtSignal = 0;

void noteSignal(int signal) { caughtSignal = signal; }

// Safe to call twice; the flag makes the second call do nothing.
void leaveRawMode() {
    if (!rawMode.active) return;
    // TCSADRAIN, not TCSAFLUSH: answers typed right after the key are the player's.
    tcsetattr(STDIN_FILENO, TCSADRAIN, &rawMode.saved);
    rawMode.active = false;
}

void leaveRawModeAtExit() { leaveRawMode(); }

bool enterRawMode() {
    if (tcgetattr(STDIN_FILENO, &rawMode.saved) != 0) return false;
    struct termios raw = rawMode.saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (!rawMode.exitHookRegistered) {
        std::atexit(leaveRawModeAtExit);
        rawMode.exitHookRegistered = true;
    }
    // TCSANOW keeps what the player has already typed; it is not ours to discard.
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) return false;
    rawMode.active = true;
    return true;
}

void guardSignals() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: the read must return so the mode is restored
    caughtSignal = 0;
    for (int i = 0; i < kGuardedCount; ++i) sigaction(kGuardedSignals[i], &action, &rawMode.oldActions[i]);
}

void unguardSignals() {
    for (int i = 0; i < kGuardedCount; ++i) sigaction(kGuardedSignals[i], &rawMode.oldActions[i], nullptr);
}

bool isStopSignal(int signal) { return signal == SIGTSTP || signal == SIGTTIN || signal == SIGTTOU; }

// One attempt at the key read. Returns true when the wait is over (a key, the end
// of input or an error), false when a stop signal asks to try again after resuming.
bool readKeyOnce() {
    guardSignals();  // before raw mode, so no signal can find the terminal raw and unguarded
    if (enterRawMode()) {
        unsigned char key = 0;
        while (caughtSignal == 0) {
            if (read(STDIN_FILENO, &key, 1) >= 0 || errno != EINTR) break;
        }
        leaveRawMode();
    }
    int signal = caughtSignal;
    unguardSignals();
    if (signal == 0) return true;
    raise(signal);  // with the old handler back: ends or stops the process as it would have
    return !isStopSignal(signal);
}

}  // namespace

bool stdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }

void readRawKey() {
    if (!stdinIsTerminal()) return;
    while (!readKeyOnce()) {
    }
}

int lockFile(const char* path) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    while (flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            close(fd);
            return -1;
        }
    }
    return fd;
}

void unlockFile(int handle) {
    if (handle < 0) return;
    flock(handle, LOCK_UN);
    close(handle);
}

bool syncFile(const char* path) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool synced = fsync(fd) == 0;
    return close(fd) == 0 && synced;
}

namespace {

// The folder part of a relative or absolute path, "." when there is none.
std::string folderOf(const char* path) {
    const char* slash = std::strrchr(path, '/');
    if (slash == nullptr) return ".";
    if (slash == path) return "/";
    return std::string(path, static_cast<std::size_t>(slash - path));
}

bool syncFolderOf(const char* path) {
    int fd = open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool synced = fsync(fd) == 0;
    return close(fd) == 0 && synced;
}

}  // namespace

bool replaceFile(const char* from, const char* to) {
    struct stat old;
    if (stat(to, &old) == 0) chmod(from, old.st_mode & 07777);
    if (rename(from, to) != 0) return false;
    syncFolderOf(to);  // the new content is in place already; this only hastens it to disk
    return true;
}

std::int64_t fileSize(const char* path) {
    struct stat info;
    if (stat(path, &info) != 0) return -1;
    return static_cast<std::int64_t>(info.st_size);
}

bool truncateFile(const char* path, std::int64_t size) {
    return truncate(path, static_cast<off_t>(size)) == 0;
}

const char* lastErrorText() { return std::strerror(errno); }

}  // namespace platform

// POSIX side of the platform layer: termios raw mode around the single key read,
// careful opens (no links followed, no blocking, regular files only), fsync and
// rename for durable atomic replacement, and the writers' lock: a lock file made
// by link(), the way mail spools on network shares are locked.
#include "platform/platform.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
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

void ignoreFileSizeSignal() { signal(SIGXFSZ, SIG_IGN); }

void readRawKey() {
    if (!stdinIsTerminal()) return;
    while (!readKeyOnce()) {
    }
}

namespace {

// Why the last call failed: the system's text, or one of ours. Each thread has
// its own (the score lookup reads on a second one).
thread_local const char* failureText = "";

bool fail(const char* reason) {
    failureText = reason;
    return false;
}

bool failWithErrno() { return fail(std::strerror(errno)); }

// Every open of a game file goes through here: never blocking (a FIFO cannot
// hang the game), retried when a signal interrupts it, closed on exec.
int openRetrying(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = open(path, flags | O_NONBLOCK | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) failWithErrno();
    return fd;
}

// Keeps fd when it is a regular file (with one link, when asked); otherwise
// closes it and returns -1. Non-blocking mode is only wanted for the open.
int keepRegular(int fd, bool singleLink) {
    if (fd < 0) return -1;
    struct stat info;
    const char* wrong = nullptr;
    if (fstat(fd, &info) != 0) {
        wrong = std::strerror(errno);
    } else if (!S_ISREG(info.st_mode)) {
        wrong = "not a regular file";
    } else if (singleLink && info.st_nlink != 1) {
        wrong = "it has other hard links";
    }
    if (wrong == nullptr && fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0) return fd;
    fail(wrong != nullptr ? wrong : std::strerror(errno));
    close(fd);
    return -1;
}

int toDescriptor(FileHandle file) { return static_cast<int>(file); }

}  // namespace

void prepareStandardStreams() {
    // Descriptors left closed by whoever started us would be taken by the next
    // file opened, and a message meant for stderr would land in that file.
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);  // takes the lowest free slot: this one
    }
}

FileHandle openForReading(const char* path, Links links) {
    int flags = O_RDONLY | (links == Links::Refuse ? O_NOFOLLOW : 0);
    int fd = openRetrying(path, flags);
    if (fd < 0 && errno == ELOOP && links == Links::Refuse) fail("a symbolic link");
    return keepRegular(fd, false);
}

FileHandle openForAppend(const char* path) {
    return keepRegular(openRetrying(path, O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW, 0666), true);
}

FileHandle createExclusive(const char* path, Sharing sharing) {
    mode_t mode = sharing == Sharing::OwnerOnly ? 0600 : 0666;
    return keepRegular(openRetrying(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, mode), true);
}

bool nameExists(const char* path) {
    struct stat info;
    return lstat(path, &info) == 0 || errno != ENOENT;
}

bool isWritable(const char* path) { return access(path, W_OK) == 0 || failWithErrno(); }

namespace {

// The folder part of a relative or absolute path, "." when there is none.
std::string folderOf(const char* path) {
    const char* slash = std::strrchr(path, '/');
    if (slash == nullptr) return ".";
    if (slash == path) return "/";
    return std::string(path, static_cast<std::size_t>(slash - path));
}

}  // namespace

bool mayReplaceName(const char* path) {
    std::string folder = folderOf(path);
    struct stat folderInfo, fileInfo;
    if (access(folder.c_str(), W_OK | X_OK) != 0) return fail("the folder is not writable");
    if (stat(folder.c_str(), &folderInfo) != 0) return failWithErrno();
    uid_t me = geteuid();
    if ((folderInfo.st_mode & S_ISVTX) == 0 || me == 0 || folderInfo.st_uid == me) return true;
    if (lstat(path, &fileInfo) != 0) return errno == ENOENT || failWithErrno();
    return fileInfo.st_uid == me || fail("the folder is sticky and the file is another user's");
}

bool nameHoldsFile(const char* path, FileHandle file) {
    struct stat named, open;
    if (lstat(path, &named) != 0 || fstat(toDescriptor(file), &open) != 0) return failWithErrno();
    return (named.st_dev == open.st_dev && named.st_ino == open.st_ino) || fail("another file was put in its place");
}

long readBytes(FileHandle file, void* buffer, std::size_t size) {
    ssize_t count;
    do {
        count = read(toDescriptor(file), buffer, size);
    } while (count < 0 && errno == EINTR);
    if (count < 0) failWithErrno();
    return static_cast<long>(count);
}

long readBytesAt(FileHandle file, std::int64_t offset, void* buffer, std::size_t size) {
    ssize_t count;
    do {
        count = pread(toDescriptor(file), buffer, size, static_cast<off_t>(offset));
    } while (count < 0 && errno == EINTR);
    if (count < 0) failWithErrno();
    return static_cast<long>(count);
}

bool seekTo(FileHandle file, std::int64_t offset) {
    return lseek(toDescriptor(file), static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset) ||
           failWithErrno();
}

bool writeBytes(FileHandle file, const void* bytes, std::size_t size) {
    const char* next = static_cast<const char*>(bytes);
    while (size > 0) {
        ssize_t count = write(toDescriptor(file), next, size);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return count < 0 ? failWithErrno() : fail("nothing written");
        next += count;
        size -= static_cast<std::size_t>(count);
    }
    return true;
}

std::int64_t copyInSystem(FileHandle from, std::int64_t offset, std::int64_t length, FileHandle to) {
    off_t at = static_cast<off_t>(offset);
    std::int64_t copied = 0;
    while (copied < length) {
        ssize_t count = copy_file_range(toDescriptor(from), &at, toDescriptor(to), nullptr,
                                        static_cast<std::size_t>(length - copied), 0);
        if (count > 0) {
            copied += count;
        } else if (count == 0) {
            fail("the file ended early");
            return -1;
        } else if (errno != EINTR) {
            bool unsupported = errno == ENOSYS || errno == EXDEV || errno == EINVAL || errno == EBADF ||
                               errno == EOPNOTSUPP;
            if (copied == 0 && unsupported) return 0;
            failWithErrno();
            return -1;
        }
    }
    return copied;
}

std::int64_t sizeOf(FileHandle file) {
    struct stat info;
    if (fstat(toDescriptor(file), &info) == 0) return static_cast<std::int64_t>(info.st_size);
    failWithErrno();
    return -1;
}

bool truncateTo(FileHandle file, std::int64_t size) {
    return ftruncate(toDescriptor(file), static_cast<off_t>(size)) == 0 || failWithErrno();
}

bool syncToDisk(FileHandle file) { return fsync(toDescriptor(file)) == 0 || failWithErrno(); }

// Offset and length 0 mean the whole file; pages already on their way are left
// alone. A failure only means that fsync does all the work later.
void startWriteBack([[maybe_unused]] FileHandle file) {
#if defined(SYNC_FILE_RANGE_WRITE)  // Linux has the call; other systems leave it all to fsync
    sync_file_range(toDescriptor(file), 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
}

bool restrictToOwner(FileHandle file) { return fchmod(toDescriptor(file), 0600) == 0 || failWithErrno(); }

// Owner and group first, as a change of owner may clear mode bits. Only root may
// give the file away; a player may give it any group of theirs. Where neither is
// allowed the file stays the player's, which is no reason to fail the save.
bool carryOwnership(FileHandle file, FileHandle model) {
    struct stat info;
    int fd = toDescriptor(file);
    if (model == kNoFile) {  // nothing to carry: the mode a new file gets
        mode_t mask = umask(0);
        umask(mask);
        return fchmod(fd, 0666 & ~mask) == 0 || failWithErrno();
    }
    if (fstat(toDescriptor(model), &info) != 0) return failWithErrno();
    if (fchown(fd, info.st_uid, info.st_gid) != 0) (void)!fchown(fd, static_cast<uid_t>(-1), info.st_gid);
    return fchmod(fd, info.st_mode & 0666) == 0 || failWithErrno();
}

bool closeFile(FileHandle file) {
    if (file == kNoFile) return true;
    return close(toDescriptor(file)) == 0 || failWithErrno();
}

bool operator==(const FileIdentity& a, const FileIdentity& b) {
    return a.device == b.device && a.node == b.node && a.size == b.size && a.modified == b.modified;
}

bool identifyFile(FileHandle file, FileIdentity& identity) {
    struct stat info;
    if (fstat(toDescriptor(file), &info) != 0) return failWithErrno();
    identity.device = static_cast<std::uint64_t>(info.st_dev);
    identity.node = static_cast<std::uint64_t>(info.st_ino);
    identity.size = static_cast<std::int64_t>(info.st_size);
    identity.modified = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    return true;
}

bool removeName(const char* path) { return unlink(path) == 0 || errno == ENOENT || failWithErrno(); }

namespace {

void syncFolderOf(const char* path) {
    int fd = open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

}  // namespace

bool replaceFile(const char* from, const char* to) {
    if (rename(from, to) != 0) return failWithErrno();
    syncFolderOf(to);  // the new content is in place already; this only hastens it to disk
    return true;
}

// ------------------------------------------------------------- the writers' lock
//
// A game holding the lock has linked a file of its own to the lock's name. The
// file says "pid host", and its holder keeps the system's lock on it where the
// system has one, so that a game finding it can tell whether the holder has ended.

namespace {

constexpr std::time_t kStaleAfterSeconds = 60;  // a save takes well under a second
constexpr int kLongestPauseMs = 50;

std::int64_t nowMs() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void pauseMs(int ms) {
    struct timespec pause = {ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

std::string hostName() {
    char host[256] = {};
    return gethostname(host, sizeof host - 1) == 0 ? host : "";
}

enum class Claim { Taken, Busy, Failed };

// The game's way to the lock: its own file, linked to the lock's name; or, where
// the folder's file system has no hard links, the lock's name created at once.
struct LockClaim {
    std::string path;
    std::string ownName;  // empty in the direct way
    int fd;
    bool direct;
    bool folderClosed;  // the direct way's create was refused by the folder
};

// Marks fd as this game's lock: the system's lock where there is one (a failure,
// as on a share without locks, leaves the other rules), and the holder's pid and
// host. Only games on this machine go by them, and they share its page cache, so
// the text need not be forced to disk.
void markHolder(int fd) {
    flock(fd, LOCK_EX | LOCK_NB);
    std::string text = std::to_string(getpid()) + " " + hostName() + "\n";
    writeBytes(fd, text.data(), text.size());
}

// A file of the game's own beside the lock's name, under a name no other game
// uses: host and pid, and a number should a killed game have left that name.
bool createOwnFile(LockClaim& claim) {
    std::string base = claim.path + "." + hostName() + "." + std::to_string(getpid());
    for (int attempt = 0; attempt < 100; ++attempt) {
        claim.ownName = attempt == 0 ? base : base + "." + std::to_string(attempt);
        claim.fd = openRetrying(claim.ownName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0644);
        if (claim.fd >= 0) {
            markHolder(claim.fd);
            return true;
        }
        if (errno != EEXIST) return false;
    }
    return false;
}

bool noHardLinks(int error) { return error == EPERM || error == EOPNOTSUPP || error == ENOSYS; }

bool isClosedFolder(int error) { return error == EACCES || error == EPERM || error == EROFS; }

// One try: link the own file to the lock's name. A reply lost on a network share
// makes link() fail although it worked, so the link count decides.
Claim linkOwnFile(LockClaim& claim) {
    int result = link(claim.ownName.c_str(), claim.path.c_str());
    int error = errno;
    struct stat own;
    if (result == 0 || (fstat(claim.fd, &own) == 0 && own.st_nlink == 2)) return Claim::Taken;
    if (error == EEXIST) return Claim::Busy;
    errno = error;
    if (!noHardLinks(error)) {
        failWithErrno();
        return Claim::Failed;
    }
    unlink(claim.ownName.c_str());
    close(claim.fd);
    claim.fd = -1;
    claim.ownName.clear();
    claim.direct = true;
    return Claim::Busy;
}

// One try the direct way: the lock's name itself created exclusively.
Claim createLockName(LockClaim& claim) {
    claim.fd = openRetrying(claim.path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0644);
    if (claim.fd >= 0) {
        markHolder(claim.fd);
        return Claim::Taken;
    }
    if (errno == EEXIST) return Claim::Busy;
    claim.folderClosed = isClosedFolder(errno);
    return Claim::Failed;
}

// Whether the holder named in the lock file runs on this machine, and its pid.
bool holderHere(int fd, pid_t& pid) {
    char text[320];
    ssize_t count = pread(fd, text, sizeof text - 1, 0);
    if (count <= 0) return false;
    text[count] = '\0';
    char* end = nullptr;
    long number = std::strtol(text, &end, 10);
    std::string host = hostName();
    pid = static_cast<pid_t>(number);
    return number > 0 && *end == ' ' && !host.empty() && std::string(end + 1, std::strcspn(end + 1, "\n")) == host;
}

bool processRuns(pid_t pid) { return kill(pid, 0) == 0 || errno == EPERM; }

// A lock is stale when it is older than the limit, or its holder is on this
// machine and has ended: its process is gone, or its system lock is free (taken
// here; where locks reach only this machine, as on a share without lock
// support, a free one says nothing of a holder elsewhere). The system lock is
// tried only once the holder's text is there, as the holder takes it first: taken
// earlier, it would keep the holder from getting it, and its live lock would
// later look stale.
bool isStale(int fd, const struct stat& info) {
    if (std::time(nullptr) - info.st_mtime > kStaleAfterSeconds) return true;
    if (!S_ISREG(info.st_mode)) return false;
    pid_t pid = 0;
    return holderHere(fd, pid) && (flock(fd, LOCK_EX | LOCK_NB) == 0 || !processRuns(pid));
}

// Removes the lock at path when it is stale, after checking that the name still
// holds the lock judged. Returns false, saying why, when a stale lock stays.
bool breakStaleLock(const char* path) {
    int fd = openRetrying(path, O_RDONLY | O_NOFOLLOW);
    struct stat held, named;
    bool judged = fd >= 0 ? fstat(fd, &held) == 0 : lstat(path, &held) == 0;  // a link, a planted object
    bool stale = judged && isStale(fd, held);
    bool removed = true;
    if (stale && lstat(path, &named) == 0 && named.st_dev == held.st_dev && named.st_ino == held.st_ino) {
        removed = unlink(path) == 0 || errno == ENOENT || fail("cannot remove a stale lock");
    }
    if (fd >= 0) close(fd);  // only now: the system lock taken here kept other games from judging meanwhile
    return removed;
}

Claim claimOnce(LockClaim& claim) {
    Claim result = claim.direct ? createLockName(claim) : linkOwnFile(claim);
    if (result == Claim::Busy && !breakStaleLock(claim.path.c_str())) return Claim::Failed;
    return result;
}

void dropClaim(LockClaim& claim) {
    if (!claim.ownName.empty()) unlink(claim.ownName.c_str());
    if (claim.fd >= 0) close(claim.fd);
}

// A wait for a lock: paced, bounded, announced once it has lasted a while.
struct Waiting {
    std::int64_t start;
    int pause;
    bool announced;
    const char* path;  // the file locked, for the announcement
};

Waiting startWaiting(const char* path) { return Waiting{nowMs(), 5, false, path}; }

// Pauses a little longer each time. Returns false, saying so, once the wait has run out.
bool waitMore(Waiting& waiting, const LockWait& wait) {
    std::int64_t waited = nowMs() - waiting.start;
    if (waited >= wait.limitMs) return fail("another game held the lock for too long");
    if (!waiting.announced && waited >= wait.announceAfterMs) {
        wait.announce(waiting.path);
        waiting.announced = true;
    }
    pauseMs(waiting.pause + static_cast<int>(getpid() % 7));  // games started together need not poll together
    waiting.pause = std::min(waiting.pause * 2, kLongestPauseMs);
    return true;
}

// Tries claimOnce until it takes the lock, fails, or the wait runs out.
Claim waitForClaim(LockClaim& claim, const LockWait& wait) {
    Waiting waiting = startWaiting(claim.path.c_str());
    for (;;) {
        Claim result = claimOnce(claim);
        if (result != Claim::Busy) return result;
        if (!waitMore(waiting, wait)) return Claim::Failed;
    }
}

}  // namespace

FileHandle takeLockFile(const char* path, const LockWait& wait, bool& folderClosed) {
    LockClaim claim{path, "", -1, false, false};
    folderClosed = false;
    if (!createOwnFile(claim)) {
        folderClosed = isClosedFolder(errno);
        failWithErrno();
        return kNoFile;
    }
    if (waitForClaim(claim, wait) != Claim::Taken) {
        // Only what the exclusive create met: after a wait, errno is a judging's
        // (kill() on another user's game says EPERM), and the folder is open.
        folderClosed = claim.folderClosed;
        dropClaim(claim);
        return kNoFile;
    }
    futimens(claim.fd, nullptr);  // the lock's age counts from now, not from the start of the wait
    if (!claim.ownName.empty()) unlink(claim.ownName.c_str());
    return claim.fd;
}

void releaseLockFile(const char* path, FileHandle lock) {
    if (lock == kNoFile) return;
    if (nameHoldsFile(path, lock)) unlink(path);  // never a lock that replaced a broken one
    close(toDescriptor(lock));  // after the name is gone: frees the system lock too
}

FileHandle takeSystemLock(const char* path, const LockWait& wait) {
    int fd = keepRegular(openRetrying(path, O_RDONLY | O_NOFOLLOW), false);
    if (fd < 0) return kNoFile;
    Waiting waiting = startWaiting(path);
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        bool held = errno == EWOULDBLOCK || errno == EINTR;
        if (!held || !waitMore(waiting, wait)) {
            if (!held) failWithErrno();
            close(fd);
            return kNoFile;
        }
    }
    return fd;
}

void releaseSystemLock(FileHandle lock) {
    if (lock != kNoFile) close(toDescriptor(lock));
}

const char* lastErrorText() { return failureText; }

}  // namespace platform

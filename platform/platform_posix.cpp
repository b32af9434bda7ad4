// POSIX side of the platform layer: termios raw mode around the single key read,
// careful opens (no links followed, no blocking, regular files only), fsync and
// rename for durable atomic replacement, and the single steps of the writers'
// lock: hard links, exclusive creates, and the holder's pid told apart by boot
// and pid namespace.
#include "platform/platform.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <random>
#include <thread>
#include <dirent.h>
#include <fcntl.h>
#include <string>
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
// its own (the score lookup reads on a second one, the lock's heartbeat writes on
// another), and so has its own buffer for the system's text.
thread_local char failureBuffer[256];
thread_local const char* failureText = "";
thread_local Failure failureKind = Failure::Other;

bool fail(const char* reason, Failure kind = Failure::Other) {
    failureText = reason;
    failureKind = kind;
    return false;
}

Failure kindOf(int error) {
    switch (error) {
        case EEXIST: return Failure::Exists;
        case ENOENT: return Failure::Missing;
        case EBUSY: case ETXTBSY: return Failure::Busy;
        case EACCES: case EPERM: return Failure::Refused;
        case ENOSPC: case EDQUOT: case EFBIG: return Failure::Full;
        case EROFS: return Failure::ReadOnly;
        case EIO: return Failure::InputOutput;
        case ESTALE: case ENOTCONN: case ECONNABORTED: case ECONNRESET: case EHOSTDOWN: case EHOSTUNREACH:
        case ETIMEDOUT: return Failure::Gone;
        default: return Failure::Other;
    }
}

// The system's text for error, in this thread's buffer. Both forms of strerror_r
// are met: the GNU one may return a text of its own instead of filling the buffer.
[[maybe_unused]] const char* errorText(int result) { return result == 0 ? failureBuffer : "unknown error"; }
[[maybe_unused]] const char* errorText(const char* text) { return text; }

bool failWith(int error) { return fail(errorText(strerror_r(error, failureBuffer, sizeof failureBuffer)), kindOf(error)); }

bool failWithErrno() { return failWith(errno); }

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
    Failure kind = Failure::Other;
    if (fstat(fd, &info) != 0) {
        failWithErrno();
        wrong = failureText;
    } else if (!S_ISREG(info.st_mode)) {
        wrong = "not a regular file";
    } else if (info.st_nlink == 0) {
        wrong = "it was removed as it was opened";
        kind = Failure::Missing;
    } else if (singleLink && info.st_nlink != 1) {
        wrong = "it has other hard links";
    }
    if (wrong == nullptr && fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0) return fd;
    if (wrong != nullptr) {
        fail(wrong, kind);
    } else {
        failWithErrno();
    }
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
            return copied;  // fusefat copies nothing this way; whether the file ended, the caller finds out
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

// Owner and group first, as a change of owner may clear mode bits. Only root may
// give the file away; a player may give it any group of theirs. Where neither is
// allowed, or the file system stores no owners or modes (ENOSYS, EPERM,
// EOPNOTSUPP on FAT, NTFS or a share with fixed modes), the file keeps what it has.
void carryOwnership(FileHandle file, FileHandle model) {
    struct stat info;
    int fd = toDescriptor(file);
    if (model == kNoFile) {  // nothing to carry: the mode a new file gets
        mode_t mask = umask(0);
        umask(mask);
        (void)!fchmod(fd, 0666 & ~mask);
        return;
    }
    if (fstat(toDescriptor(model), &info) != 0) return;
    if (fchown(fd, info.st_uid, info.st_gid) != 0) (void)!fchown(fd, static_cast<uid_t>(-1), info.st_gid);
    (void)!fchmod(fd, info.st_mode & 0666);
}

bool closeFile(FileHandle file) {
    if (file == kNoFile) return true;
    return close(toDescriptor(file)) == 0 || failWithErrno();
}

bool operator==(const FileIdentity& a, const FileIdentity& b) {
    return a.device == b.device && a.node == b.node && a.size == b.size && a.modified == b.modified;
}

namespace {

FileIdentity identityOf(const struct stat& info) {
    return FileIdentity{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
                        static_cast<std::int64_t>(info.st_size),
                        static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

}  // namespace

bool identifyFile(FileHandle file, FileIdentity& identity) {
    struct stat info;
    if (fstat(toDescriptor(file), &info) != 0) return failWithErrno();
    identity = identityOf(info);
    return true;
}

namespace {

// A share refuses to replace or remove a file that is open at that moment (EBUSY):
// another game reading it, or this game's own close, which a share may finish
// late. Such refusals pass, so they are tried again for up to three seconds.
constexpr int kBusyAttempts = 60;
constexpr int kBusyPauseMs = 50;

template <typename Call>
bool retryWhileBusy(Call call) {
    for (int attempt = 1; call() != 0; ++attempt) {
        if (errno != EBUSY || attempt == kBusyAttempts) return false;
        pauseMs(kBusyPauseMs);
    }
    return true;
}

}  // namespace

bool removeName(const char* path, Tries tries) {
    if (tries == Tries::Once) return unlink(path) == 0 || errno == ENOENT || failWithErrno();
    return retryWhileBusy([path] { return unlink(path); }) || errno == ENOENT || failWithErrno();
}

namespace {

void syncFolderOf(const char* path) {
    int fd = open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

}  // namespace

bool replaceFile(const char* from, const char* to) {
    if (!retryWhileBusy([from, to] { return rename(from, to); })) return failWithErrno();
    syncFolderOf(to);  // the new content is in place already; this only hastens it to disk
    return true;
}

// ------------------------------------------------------------- the writers' lock

std::int64_t steadyMs() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void pauseMs(int ms) {
    struct timespec pause = {ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

std::uint64_t uniqueNumber() {
    std::random_device device;
    std::uint64_t drawn = (static_cast<std::uint64_t>(device()) << 32) ^ device();
    return drawn ^ (static_cast<std::uint64_t>(getpid()) << 40) ^ static_cast<std::uint64_t>(steadyMs());
}

namespace {

// The first line of a small file, or "" when there is none (no /proc, say).
std::string firstLineOf(const char* path) {
    char text[256] = {};
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "";
    ssize_t count = read(fd, text, sizeof text - 1);
    close(fd);
    if (count <= 0) return "";
    return std::string(text, std::strcspn(text, "\n"));
}

std::string hostName() {
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') return "-";
    for (char* c = host; *c != '\0'; ++c) {
        if (*c == ' ' || *c == '\t' || *c == '\n') *c = '_';
    }
    return host;
}

// The boot id and the pid namespace: two games with the same host name in two
// containers, or on two cloned machines, never share both.
std::string machineName() {
    std::string boot = firstLineOf("/proc/sys/kernel/random/boot_id");
    char ns[64] = {};
    ssize_t length = readlink("/proc/self/ns/pid", ns, sizeof ns - 1);
    if (boot.empty() || length <= 0 || boot.find(' ') != std::string::npos) return "-";
    return boot + ":" + std::string(ns, static_cast<std::size_t>(length));
}

// When the process started, in clock ticks since boot: the 22nd field of its stat
// line, counted after the command name, which may hold blanks. "" when unknown.
std::string startOf(long pid) {
    std::string stat = firstLineOf(("/proc/" + std::to_string(pid) + "/stat").c_str());
    std::size_t close = stat.rfind(')');
    if (close == std::string::npos) return "";
    const char* field = stat.c_str() + close + 1;
    for (int skipped = 0; skipped < 19 && field != nullptr; ++skipped) field = std::strchr(field + 1, ' ');
    if (field == nullptr) return "";
    ++field;
    return std::string(field, std::strcspn(field, " "));
}

}  // namespace

std::string holderMark() {
    std::string started = startOf(getpid());
    return std::to_string(getpid()) + " " + hostName() + " " + machineName() + " " +
           (started.empty() ? "-" : started);
}

Holder judgeHolder(const std::string& mark) {
    char host[256] = {}, machine[256] = {}, started[64] = {};
    long pid = 0;
    if (std::sscanf(mark.c_str(), "%ld %255s %255s %63s", &pid, host, machine, started) != 4 || pid <= 0) {
        return Holder::Unknown;
    }
    std::string here = machineName();
    if (here == "-" || here != machine || hostName() != host) return Holder::Unknown;
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) return Holder::Gone;
    std::string now = startOf(pid);
    return now.empty() || now != started ? Holder::Gone : Holder::Alive;  // a pid given to another process
}

namespace {

// The system's lock on a lock file: a lock on the whole file held through the
// open file itself (not the process), so no other open or close of the file by
// the same game drops it. Only a process that may write the file can take it,
// so a reader of the folder cannot pose as a holder.
struct flock wholeFile(short type) {
    struct flock lock;
    std::memset(&lock, 0, sizeof lock);
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    return lock;
}

}  // namespace

// The lock file may be written by the folder's group, so that a member who
// clears it when its holder has ended may take the system's lock on it first. A
// file system without the system's lock (some FUSE and NFS mounts) refuses it:
// the lock file then works as a file alone.
FileHandle createLockFile(const char* path) {
    int fd = keepRegular(openRetrying(path, O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW, 0664), true);
    if (fd < 0) return kNoFile;
    (void)!fchmod(fd, 0664);  // a creation mask of 077 must not hide the holder from the class
    struct flock lock = wholeFile(F_WRLCK);
    (void)!fcntl(fd, F_OFD_SETLK, &lock);
    return fd;
}

bool lockFileInUse(const char* path) {
    int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct flock lock = wholeFile(F_RDLCK);
    bool held = fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
    close(fd);
    return held;
}

ClearingLock lockForClearing(const char* path, const FileIdentity& judged, FileHandle& file) {
    int fd = open(path, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == EACCES) return ClearingLock::Unavailable;  // another group's: no way to its lock
    struct stat info;
    if (fd < 0 || fstat(fd, &info) != 0 || !(identityOf(info) == judged)) {
        if (fd >= 0) close(fd);
        return ClearingLock::Changed;
    }
    struct flock lock = wholeFile(F_WRLCK);
    if (fcntl(fd, F_OFD_SETLK, &lock) == 0) {
        file = fd;
        return ClearingLock::Taken;
    }
    bool held = errno == EAGAIN || errno == EACCES;
    close(fd);
    return held ? ClearingLock::Held : ClearingLock::Unavailable;
}

void dropLockFile(const char* path, FileHandle lock) {
    close(toDescriptor(lock));
    removeName(path);
}

bool linkName(const char* from, const char* to) {
    if (link(from, to) == 0) return true;
    bool none = errno == EPERM || errno == EOPNOTSUPP || errno == ENOSYS || errno == EMLINK;
    if (!none) return failWithErrno();
    failWithErrno();
    return fail(failureText, Failure::NoLinks);
}

bool moveName(const char* from, const char* to) {
    return retryWhileBusy([from, to] { return rename(from, to); }) || failWithErrno();
}

namespace {

// Reads up to limit bytes of the regular file seen as info at path; a file the
// player may not read gives no text. False when another file took the name meanwhile.
bool readRegular(const char* path, const struct stat& info, std::size_t limit, std::string& text) {
    int fd = openRetrying(path, O_RDONLY | O_NOFOLLOW);
    if (fd < 0) return errno == EACCES;
    struct stat open;
    bool same = fstat(fd, &open) == 0 && open.st_dev == info.st_dev && open.st_ino == info.st_ino;
    text.assign(limit, '\0');
    ssize_t count = same ? pread(fd, text.data(), limit, 0) : -1;
    close(fd);
    text.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
    return same && count >= 0;
}

}  // namespace

bool lookAtName(const char* path, std::size_t textLimit, NameLook& look) {
    struct stat info;
    look.text.clear();
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (lstat(path, &info) != 0) {
            look.kind = NameKind::Absent;
            return errno == ENOENT || failWithErrno();
        }
        look.identity = identityOf(info);
        look.links = static_cast<std::uint32_t>(info.st_nlink);
        look.kind = S_ISREG(info.st_mode) ? NameKind::Regular : S_ISDIR(info.st_mode) ? NameKind::Folder
                                                                                      : NameKind::Other;
        if (look.kind != NameKind::Regular || textLimit == 0 || readRegular(path, info, textLimit, look.text)) {
            return true;
        }
    }
    return fail("the name keeps changing");
}

bool listNames(const char* prefix, std::vector<std::string>& names) {
    DIR* folder = opendir(".");
    if (folder == nullptr) return failWithErrno();
    std::size_t length = std::strlen(prefix);
    while (struct dirent* entry = readdir(folder)) {
        if (std::strncmp(entry->d_name, prefix, length) == 0) names.emplace_back(entry->d_name);
    }
    closedir(folder);
    return true;
}

bool mayCreateBeside(const char* path) {
    return access(folderOf(path).c_str(), W_OK | X_OK) == 0 || fail("the folder is not writable", Failure::Refused);
}

namespace {

// Sleeps in poll() with a timeout counted from now, never until a time of day: a
// game run under a shifted clock (as tests of skewed machines do) beats at the
// same pace. A byte down the pipe wakes it to end.
class PosixTicker : public Ticker {
public:
    PosixTicker(int periodMs, std::function<void()> tick) : periodMs_(periodMs), tick_(std::move(tick)) {
        if (pipe2(wake_, O_CLOEXEC) != 0) wake_[0] = wake_[1] = -1;
        thread_ = std::thread(&PosixTicker::run, this);
    }
    ~PosixTicker() override {
        if (wake_[1] >= 0) (void)!write(wake_[1], "x", 1);
        stopping_ = true;
        thread_.join();
        for (int fd : wake_) {
            if (fd >= 0) close(fd);
        }
    }

private:
    void run() {
        std::int64_t next = steadyMs() + periodMs_;
        while (!stopping_) {
            struct pollfd woken = {wake_[0], POLLIN, 0};
            int wait = static_cast<int>(std::clamp<std::int64_t>(next - steadyMs(), 0, wake_[0] < 0 ? 20 : periodMs_));
            if (wake_[0] < 0 || poll(&woken, 1, wait) == 0) {  // without a pipe: slices of 20 ms
                if (steadyMs() < next || stopping_) continue;
                tick_();
                next += periodMs_;
            } else if (woken.revents != 0) {
                return;
            }
        }
    }

    int periodMs_;
    std::function<void()> tick_;
    int wake_[2];
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace

std::unique_ptr<Ticker> startTicker(int periodMs, std::function<void()> tick) {
    return std::make_unique<PosixTicker>(periodMs, std::move(tick));
}

Failure lastFailure() { return failureKind; }

const char* lastErrorText() { return failureText; }

}  // namespace platform

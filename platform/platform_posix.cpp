// POSIX side of the platform layer: termios raw mode around the single key read,
// careful opens (no links followed, no blocking, regular files only), flock for the
// writers' lock, fsync and rename for durable atomic replacement.
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

FileHandle createExclusive(const char* path) {
    return keepRegular(openRetrying(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0666), true);
}

bool nameExists(const char* path) {
    struct stat info;
    return lstat(path, &info) == 0 || errno != ENOENT;
}

bool isWritable(const char* path) { return access(path, W_OK) == 0 || failWithErrno(); }

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

bool copyPermissions(FileHandle file, FileHandle model) {
    struct stat info;
    if (fstat(toDescriptor(model), &info) != 0) return failWithErrno();
    return fchmod(toDescriptor(file), info.st_mode & 07777) == 0 || failWithErrno();
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

// The folder part of a relative or absolute path, "." when there is none.
std::string folderOf(const char* path) {
    const char* slash = std::strrchr(path, '/');
    if (slash == nullptr) return ".";
    if (slash == path) return "/";
    return std::string(path, static_cast<std::size_t>(slash - path));
}

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

FileHandle lockFile(const char* path) {
    int fd = keepRegular(openRetrying(path, O_RDONLY), false);
    if (fd < 0) return kNoFile;
    while (flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            failWithErrno();
            close(fd);
            return kNoFile;
        }
    }
    return fd;
}

void unlockFile(FileHandle lock) {
    if (lock == kNoFile) return;
    flock(toDescriptor(lock), LOCK_UN);
    close(toDescriptor(lock));
}

const char* lastErrorText() { return failureText; }

}  // namespace platform

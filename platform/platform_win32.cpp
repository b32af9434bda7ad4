// Windows side of the platform layer: the console's key events for the single key
// read, careful opens (no reparse points followed where links are refused or the
// file is written, disk files only), FlushFileBuffers and MoveFileExW for durable
// atomic replacement, and for the writers' lock a file created exclusively that
// the system deletes when its holder closes it or ends.
#include "platform/platform.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>
#include <fcntl.h>
#include <io.h>
#include <string>

namespace platform {
namespace {

// ------------------------------------------------------------- the key wait

// The console's input mode while the key wait runs, and whether it must be put back.
struct KeyWait {
    HANDLE input;
    DWORD savedMode;
    volatile LONG active;
    bool hooksRegistered;
};
KeyWait keyWait;

// Safe to call twice and from the Ctrl+C thread: only the first caller restores.
void restoreConsoleMode() {
    if (InterlockedExchange(&keyWait.active, 0) != 0) SetConsoleMode(keyWait.input, keyWait.savedMode);
}

void restoreConsoleModeAtExit() { restoreConsoleMode(); }

// Runs on a thread of its own when Ctrl+C, Ctrl+Break or the closing window ends
// the game: the mode goes back, then the default handling ends the process.
BOOL WINAPI restoreOnControlEvent(DWORD) {
    restoreConsoleMode();
    return FALSE;
}

void registerHooks() {
    if (keyWait.hooksRegistered) return;
    std::atexit(restoreConsoleModeAtExit);
    SetConsoleCtrlHandler(restoreOnControlEvent, TRUE);
    keyWait.hooksRegistered = true;
}

// Keys that only change others, held down on their own, are no key press.
bool isModifierOnly(WORD key) {
    switch (key) {
        case VK_SHIFT: case VK_CONTROL: case VK_MENU: case VK_LWIN: case VK_RWIN:
        case VK_CAPITAL: case VK_NUMLOCK: case VK_SCROLL:
            return true;
        default:
            return false;
    }
}

// Takes console events until a key goes down. Returns at the end of input or on
// an error as well.
void awaitKeyPress(HANDLE input) {
    INPUT_RECORD event;
    DWORD count = 0;
    while (ReadConsoleInputW(input, &event, 1, &count) && count == 1) {
        if (event.EventType != KEY_EVENT) continue;  // mouse, focus, window size, menu
        const KEY_EVENT_RECORD& key = event.Event.KeyEvent;
        if (key.bKeyDown && !isModifierOnly(key.wVirtualKeyCode)) return;
    }
}

}  // namespace

// Windows has no signal for a write beyond a size limit: such a write just fails.
void ignoreFileSizeSignal() {}

bool stdinIsTerminal() {
    // GetConsoleMode, not _isatty: the null device is a character device too.
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

void readRawKey() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD saved = 0;
    if (!GetConsoleMode(input, &saved)) return;  // a pipe, a file, NUL: nothing to wait for
    registerHooks();
    keyWait.input = input;
    keyWait.savedMode = saved;
    // Line input and echo off; mouse and window events are not wanted. Processed
    // input stays on, so Ctrl+C still ends the game instead of counting as a key.
    DWORD keysOnly = (saved & ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_MOUSE_INPUT |
                                                   ENABLE_WINDOW_INPUT)) |
                     ENABLE_PROCESSED_INPUT;
    InterlockedExchange(&keyWait.active, 1);
    if (SetConsoleMode(input, keysOnly)) awaitKeyPress(input);
    restoreConsoleMode();
}

// ------------------------------------------------------------- failures

namespace {

// Why the last call failed: the system's text, or one of ours, for each thread
// (the lock's heartbeat writes on a thread of its own).
thread_local char failureBuffer[256];
thread_local const char* failureText = "";
thread_local Failure failureKind = Failure::Other;

bool fail(const char* reason, Failure kind = Failure::Other) {
    failureText = reason;
    failureKind = kind;
    return false;
}

Failure kindOf(DWORD code) {
    switch (code) {
        case ERROR_FILE_EXISTS: case ERROR_ALREADY_EXISTS: return Failure::Exists;
        case ERROR_FILE_NOT_FOUND: case ERROR_PATH_NOT_FOUND: return Failure::Missing;
        case ERROR_SHARING_VIOLATION: case ERROR_LOCK_VIOLATION: return Failure::Busy;
        case ERROR_ACCESS_DENIED: return Failure::Refused;
        case ERROR_DISK_FULL: case ERROR_HANDLE_DISK_FULL: return Failure::Full;
        case ERROR_WRITE_PROTECT: return Failure::ReadOnly;
        case ERROR_CRC: case ERROR_IO_DEVICE: return Failure::InputOutput;
        case ERROR_NETNAME_DELETED: case ERROR_BAD_NETPATH: case ERROR_UNEXP_NET_ERR: case ERROR_NETWORK_UNREACHABLE:
        case ERROR_DEV_NOT_EXIST: case ERROR_SEM_TIMEOUT: return Failure::Gone;
        case ERROR_DELETE_PENDING: return Failure::Busy;
        default: return Failure::Other;
    }
}

// The system's one-line text for code, in English where the system has it, so the
// line reads like the game's own English messages.
bool failWithCode(DWORD code) {
    DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK;
    DWORD length = FormatMessageA(flags, nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                  failureBuffer, sizeof failureBuffer, nullptr);
    if (length == 0) length = FormatMessageA(flags, nullptr, code, 0, failureBuffer, sizeof failureBuffer, nullptr);
    while (length > 0 && (failureBuffer[length - 1] == ' ' || failureBuffer[length - 1] == '.')) --length;
    if (length == 0) length = static_cast<DWORD>(std::snprintf(failureBuffer, sizeof failureBuffer, "error %lu",
                                                               static_cast<unsigned long>(code)));
    failureBuffer[length] = '\0';
    return fail(failureBuffer, kindOf(code));
}

bool failWithLastError() { return failWithCode(GetLastError()); }

// ------------------------------------------------------------- careful opens

HANDLE toHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }
FileHandle fromHandle(HANDLE handle) { return reinterpret_cast<FileHandle>(handle); }

// Paths come as the game and the command line give them: in the ANSI code page.
std::wstring widePath(const char* path) {
    int length = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    std::wstring wide(length > 0 ? static_cast<std::size_t>(length) : 1, L'\0');
    if (length > 0) MultiByteToWideChar(CP_ACP, 0, path, -1, wide.data(), length);
    wide.resize(wide.size() - 1);
    return wide;
}

// Shared so that other games may read, write and rename the file meanwhile, as
// they may on POSIX systems.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE openHandle(const char* path, DWORD access, DWORD disposition, bool followLinks) {
    DWORD flags = FILE_ATTRIBUTE_NORMAL | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE handle = CreateFileW(widePath(path).c_str(), access, kShareAll, nullptr, disposition, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) failWithLastError();
    return handle;
}

// Why the open file is no regular file the game may use, or nullptr when it is.
const char* wrongKind(HANDLE handle, bool refuseLinks, bool singleLink) {
    if (GetFileType(handle) != FILE_TYPE_DISK) return "not a regular file";
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)) {
        failWithLastError();
        return failureText;
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return "not a regular file";
    if (refuseLinks && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        return "a symbolic link or other reparse point";
    }
    if (singleLink && info.nNumberOfLinks != 1) return "it has other hard links";
    return nullptr;
}

// Keeps handle when it is a regular file (no reparse point, one link, as asked);
// otherwise closes it and returns kNoFile.
FileHandle keepRegular(HANDLE handle, bool refuseLinks, bool singleLink) {
    if (handle == INVALID_HANDLE_VALUE) return kNoFile;
    const char* wrong = wrongKind(handle, refuseLinks, singleLink);
    if (wrong == nullptr) return fromHandle(handle);
    fail(wrong);
    CloseHandle(handle);
    return kNoFile;
}

// Puts the standard handle and C runtime descriptor fd on the null device when the
// process was started without that handle. Asked of the system, not of the C
// runtime, which may take a question about a closed descriptor as an error.
void openOnNullDevice(DWORD standard, int fd) {
    HANDLE handle = GetStdHandle(standard);
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) return;
    DWORD access = fd == 0 ? GENERIC_READ : GENERIC_WRITE;
    HANDLE null = CreateFileW(L"NUL", access, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
    if (null == INVALID_HANDLE_VALUE) return;
    SetStdHandle(standard, null);
    int nullFd = _open_osfhandle(reinterpret_cast<std::intptr_t>(null), fd == 0 ? _O_RDONLY : _O_WRONLY);
    if (nullFd < 0) return;
    if (nullFd != fd) {
        _dup2(nullFd, fd);
        _close(nullFd);
    }
}

}  // namespace

void prepareStandardStreams() {
    openOnNullDevice(STD_INPUT_HANDLE, 0);
    openOnNullDevice(STD_OUTPUT_HANDLE, 1);
    openOnNullDevice(STD_ERROR_HANDLE, 2);
    // The C runtime would turn every line feed into CR LF; the screens are bytes.
    // Standard input stays in text mode, so a console's Enter (CR LF) ends one line.
    _setmode(_fileno(stdout), _O_BINARY);
}

FileHandle openForReading(const char* path, Links links) {
    bool refuse = links == Links::Refuse;
    return keepRegular(openHandle(path, GENERIC_READ, OPEN_EXISTING, !refuse), refuse, false);
}

// Writes always go to the end of the file (see writeBytes), which makes this the
// append the header promises.
FileHandle openForAppend(const char* path) {
    return keepRegular(openHandle(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, false), true, true);
}

// The new file's access list comes from its folder, for either sharing.
FileHandle createExclusive(const char* path, Sharing) {
    return keepRegular(openHandle(path, GENERIC_READ | GENERIC_WRITE, CREATE_NEW, false), true, true);
}

bool nameExists(const char* path) {
    // Attributes of a link are its own, so a dangling link exists too.
    if (GetFileAttributesW(widePath(path).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

bool isWritable(const char* path) {
    // The one true answer on Windows (attributes, access lists) is an open for writing.
    HANDLE handle = openHandle(path, GENERIC_WRITE, OPEN_EXISTING, false);
    if (handle == INVALID_HANDLE_VALUE) return false;
    CloseHandle(handle);
    return true;
}

// Access lists decide, and the only true answer is the attempt itself: the save
// reports a refusal there.
bool mayReplaceName(const char*) { return true; }

bool nameHoldsFile(const char* path, FileHandle file) {
    // No access asked: only the identity is wanted, whatever stands there.
    DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;
    HANDLE named = CreateFileW(widePath(path).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr);
    if (named == INVALID_HANDLE_VALUE) return failWithLastError();
    BY_HANDLE_FILE_INFORMATION a, b;
    bool same = GetFileInformationByHandle(named, &a) && GetFileInformationByHandle(toHandle(file), &b) &&
                a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
                a.nFileIndexLow == b.nFileIndexLow;
    CloseHandle(named);
    return same || fail("another file was put in its place");
}

long readBytes(FileHandle file, void* buffer, std::size_t size) {
    DWORD wanted = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    DWORD count = 0;
    if (ReadFile(toHandle(file), buffer, wanted, &count, nullptr)) return static_cast<long>(count);
    failWithLastError();
    return -1;
}

// ReadFile at an offset moves the position of a handle opened for plain reads.
long readBytesAt(FileHandle, std::int64_t, void*, std::size_t) { return -1; }

// The game copies through its own buffers here: writes always go to the end of a
// file, which a copy inside the system would not keep to.
std::int64_t copyInSystem(FileHandle, std::int64_t, std::int64_t, FileHandle) { return 0; }

bool seekTo(FileHandle file, std::int64_t offset) {
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    return SetFilePointerEx(toHandle(file), distance, nullptr, FILE_BEGIN) || failWithLastError();
}

// Every file the game writes is written at its end: a record appended, or a new
// file filled front to back. Writing at the end each time (documented for an
// offset of all ones) keeps an append at the end whatever another writer did.
bool writeBytes(FileHandle file, const void* bytes, std::size_t size) {
    const char* next = static_cast<const char*>(bytes);
    while (size > 0) {
        OVERLAPPED atEnd = {};
        atEnd.Offset = 0xFFFFFFFF;
        atEnd.OffsetHigh = 0xFFFFFFFF;
        DWORD part = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD count = 0;
        if (!WriteFile(toHandle(file), next, part, &count, &atEnd)) return failWithLastError();
        if (count == 0) return fail("nothing written");
        next += count;
        size -= count;
    }
    return true;
}

std::int64_t sizeOf(FileHandle file) {
    LARGE_INTEGER size;
    if (GetFileSizeEx(toHandle(file), &size)) return size.QuadPart;
    failWithLastError();
    return -1;
}

bool truncateTo(FileHandle file, std::int64_t size) {
    FILE_END_OF_FILE_INFO end;
    end.EndOfFile.QuadPart = size;
    return SetFileInformationByHandle(toHandle(file), FileEndOfFileInfo, &end, sizeof end) || failWithLastError();
}

bool syncToDisk(FileHandle file) { return FlushFileBuffers(toHandle(file)) || failWithLastError(); }

// Windows has no call that starts a file's write-back without waiting for it.
void startWriteBack(FileHandle) {}

// A new file's access list comes from its folder, as the old file's did; the
// read-only attribute of the old file is never copied, as it stops the next save.
void carryOwnership(FileHandle, FileHandle) {}

bool closeFile(FileHandle file) {
    if (file == kNoFile) return true;
    return CloseHandle(toHandle(file)) || failWithLastError();
}

namespace {

std::int64_t nanosecondsSince1970(const FILETIME& time) {
    std::uint64_t ticks = (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return (static_cast<std::int64_t>(ticks) - 116444736000000000LL) * 100;
}

}  // namespace

bool operator==(const FileIdentity& a, const FileIdentity& b) {
    return a.device == b.device && a.node == b.node && a.size == b.size && a.modified == b.modified;
}

bool identifyFile(FileHandle file, FileIdentity& identity) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(toHandle(file), &info)) return failWithLastError();
    identity.device = info.dwVolumeSerialNumber;
    identity.node = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    identity.size = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) |
                                              info.nFileSizeLow);
    identity.modified = nanosecondsSince1970(info.ftLastWriteTime);
    return true;
}

bool removeName(const char* path, Tries) {
    // DeleteFileW removes a link itself, never what it points to.
    if (DeleteFileW(widePath(path).c_str())) return true;
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || failWithCode(error);
}

namespace {

// Another game reading the score file holds it open for a moment, and Windows
// refuses to replace an open file meanwhile: such refusals are tried again.
constexpr int kReplaceAttempts = 60;
constexpr DWORD kReplacePauseMs = 50;

bool isPassingRefusal(DWORD error) { return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED; }

}  // namespace

bool replaceFile(const char* from, const char* to) {
    std::wstring source = widePath(from), target = widePath(to);
    for (int attempt = 1;; ++attempt) {
        // Write-through: the call returns once the new name is on disk.
        if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return true;
        }
        DWORD error = GetLastError();
        if (!isPassingRefusal(error) || attempt == kReplaceAttempts) return failWithCode(error);
        Sleep(kReplacePauseMs);
    }
}

// ------------------------------------------------------------- the writers' lock

std::int64_t steadyMs() { return static_cast<std::int64_t>(GetTickCount64()); }

void pauseMs(int ms) { Sleep(static_cast<DWORD>(ms)); }

std::uint64_t uniqueNumber() {
    std::random_device device;
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    std::uint64_t drawn = (static_cast<std::uint64_t>(device()) << 32) ^ device();
    return drawn ^ static_cast<std::uint64_t>(counter.QuadPart) ^ (static_cast<std::uint64_t>(GetCurrentProcessId()) << 40);
}

// A lock file here is deleted by the system with its holder, so no game needs to
// judge a Windows game by its pid: the mark says so with "-" for the machine.
std::string holderMark() {
    char host[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD length = sizeof host;
    if (!GetComputerNameA(host, &length) || length == 0) std::snprintf(host, sizeof host, "-");
    for (char* c = host; *c != '\0'; ++c) {
        if (*c == ' ') *c = '_';
    }
    return std::to_string(GetCurrentProcessId()) + " " + host + " - -";
}

Holder judgeHolder(const std::string&) { return Holder::Unknown; }

// True when something, perhaps on its way out, stands under the name: a file
// deleted while another still has it open is "delete pending", and refuses
// every open, a new one under its name too, until the last handle closes.
bool nameTaken(const char* path) {
    if (GetFileAttributesW(widePath(path).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    DWORD error = GetLastError();
    return error == ERROR_ACCESS_DENIED || error == ERROR_DELETE_PENDING;
}

// Shared for reading only, so that other games may read whose it is but no game
// may move or delete it while its holder lives; deleted by the system when the
// handle is closed, also when the game is killed. Its being open for writing is
// the system's lock here: another open that denies writing fails while it is.
FileHandle createLockFile(const char* path) {
    DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE;
    HANDLE handle = CreateFileW(widePath(path).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                                nullptr, CREATE_NEW, flags, nullptr);
    if (handle != INVALID_HANDLE_VALUE) return keepRegular(handle, true, true);
    DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED && nameTaken(path)) return fail("a lock on its way out", Failure::Exists), kNoFile;
    failWithCode(error);
    return kNoFile;
}

bool lockFileInUse(const char* path) {
    HANDLE handle = CreateFileW(widePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
        return false;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION;
}

// Windows games' locks go with their holders; a lock a game elsewhere left on a
// share is cleared as where only its content tells.
ClearingLock lockForClearing(const char*, const FileIdentity&, FileHandle&) { return ClearingLock::Unavailable; }

void dropLockFile(const char*, FileHandle lock) { CloseHandle(toHandle(lock)); }  // deletes it

// Hard links where the file system has them (NTFS), not on FAT.
bool linkName(const char* from, const char* to) {
    if (CreateHardLinkW(widePath(to).c_str(), widePath(from).c_str(), nullptr)) return true;
    DWORD error = GetLastError();
    bool none = error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED || error == ERROR_TOO_MANY_LINKS;
    return none ? fail("no hard links here", Failure::NoLinks) : failWithCode(error);
}

bool moveName(const char* from, const char* to) {
    if (MoveFileExW(widePath(from).c_str(), widePath(to).c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    return failWithLastError();
}

namespace {

// Reads up to limit bytes of the regular file at path; a file held without read
// sharing gives no text, and one gone meanwhile is Absent.
bool readRegular(const char* path, std::size_t limit, NameLook& look) {
    DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT;
    HANDLE handle = CreateFileW(widePath(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) look.kind = NameKind::Absent;
        // Held without read sharing, or on its way out (a lock closed by its holder just now).
        return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || look.kind == NameKind::Absent ||
               failWithCode(error);
    }
    look.text.assign(limit, '\0');
    DWORD count = 0;
    bool read = limit == 0 || ReadFile(handle, look.text.data(), static_cast<DWORD>(limit), &count, nullptr);
    look.text.resize(read ? count : 0);
    BY_HANDLE_FILE_INFORMATION info;
    bool identified = identifyFile(fromHandle(handle), look.identity) && GetFileInformationByHandle(handle, &info);
    look.links = identified ? info.nNumberOfLinks : 1;
    CloseHandle(handle);
    return read && identified;
}

}  // namespace

bool lookAtName(const char* path, std::size_t textLimit, NameLook& look) {
    WIN32_FILE_ATTRIBUTE_DATA info;
    look.text.clear();
    look.identity = FileIdentity{};
    look.links = 1;
    if (!GetFileAttributesExW(widePath(path).c_str(), GetFileExInfoStandard, &info)) {
        DWORD error = GetLastError();
        look.kind = NameKind::Absent;  // also a file on its way out (delete pending): gone in a moment
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_DELETE_PENDING ||
               error == ERROR_ACCESS_DENIED || failWithCode(error);
    }
    look.identity.size = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) |
                                                   info.nFileSizeLow);
    look.identity.modified = nanosecondsSince1970(info.ftLastWriteTime);
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        look.kind = NameKind::Other;
    } else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        look.kind = NameKind::Folder;
    } else {
        look.kind = NameKind::Regular;
        return readRegular(path, textLimit, look);
    }
    return true;
}

bool listNames(const char* prefix, std::vector<std::string>& names) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((widePath(prefix) + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return GetLastError() == ERROR_FILE_NOT_FOUND || failWithLastError();
    }
    // The system's own matching of "name.*" also finds "name": each is checked here.
    std::size_t length = std::strlen(prefix);
    do {
        char name[MAX_PATH * 2];
        if (WideCharToMultiByte(CP_ACP, 0, found.cFileName, -1, name, sizeof name, nullptr, nullptr) > 0 &&
            std::strncmp(name, prefix, length) == 0) {
            names.emplace_back(name);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return true;
}

// Access lists decide, and the only true answer is the attempt itself.
bool mayCreateBeside(const char*) { return true; }

namespace {

// Waits on an event with a timeout counted from now; setting the event wakes the
// thread at once to end.
class WindowsTicker : public Ticker {
public:
    WindowsTicker(int periodMs, std::function<void()> tick)
        : periodMs_(periodMs), tick_(std::move(tick)), wake_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          thread_(&WindowsTicker::run, this) {}
    ~WindowsTicker() override {
        stopping_ = true;
        if (wake_ != nullptr) SetEvent(wake_);
        thread_.join();
        if (wake_ != nullptr) CloseHandle(wake_);
    }

private:
    void run() {
        std::int64_t next = steadyMs() + periodMs_;
        while (!stopping_) {
            std::int64_t wait = std::max<std::int64_t>(0, std::min<std::int64_t>(next - steadyMs(), periodMs_));
            if (wake_ == nullptr) {
                Sleep(static_cast<DWORD>(std::min<std::int64_t>(wait, 20)));
            } else if (WaitForSingleObject(wake_, static_cast<DWORD>(wait)) == WAIT_OBJECT_0) {
                return;
            }
            if (stopping_ || steadyMs() < next) continue;
            tick_();
            next += periodMs_;
        }
    }

    int periodMs_;
    std::function<void()> tick_;
    HANDLE wake_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace

std::unique_ptr<Ticker> startTicker(int periodMs, std::function<void()> tick) {
    return std::make_unique<WindowsTicker>(periodMs, std::move(tick));
}

Failure lastFailure() { return failureKind; }

const char* lastErrorText() { return failureText; }

}  // namespace platform

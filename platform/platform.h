// What differs between operating systems, behind one set of declarations: the
// standard streams at start-up, the raw key read of the pauses, careful opening of
// files in a folder that others may write, the writers' lock, and the durable,
// atomic replacement of a file. One source per system implements it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// Called once, first thing: makes descriptors 0, 1 and 2 exist (on the null
// device where they were closed), so that no file the game opens can take their
// place, and puts standard output in binary mode, so that its bytes reach the
// console unchanged. Standard input keeps its mode.
void prepareStandardStreams();

// Called once at start-up: a write beyond the file-size limit then fails with an
// error the game reports, instead of a signal ending the game half-way through it.
void ignoreFileSizeSignal();

// True when standard input is an interactive terminal (a console on Windows).
bool stdinIsTerminal();

// Reads one key from the terminal without echo and without Enter, leaving the
// buffered standard input alone. Returns at once when standard input is not a
// terminal. The terminal's mode is restored on every way out, signals included.
void readRawKey();

// An open file; kNoFile when an open failed.
using FileHandle = std::intptr_t;
inline constexpr FileHandle kNoFile = -1;

// Whether an open for reading may follow a symbolic link standing at the name.
enum class Links { Follow, Refuse };

// Opens an existing file for reading, never blocking (a FIFO cannot hang the
// game). Returns kNoFile, with lastErrorText() saying why, when the name is
// missing or unreadable, or names anything but a regular file: a directory, FIFO
// or device, or a symbolic link when links is Refuse.
FileHandle openForReading(const char* path, Links links);

// Opens the regular file with exactly one link at path for reading, and for
// writing at its end, creating it when the name is free; never through a
// symbolic link and never blocking. Returns kNoFile otherwise.
FileHandle openForAppend(const char* path);

// Who may read a new file: everyone the creation mask lets, or its owner alone.
enum class Sharing { AsUsual, OwnerOnly };

// Creates path as a new, empty regular file open for writing. Fails when
// anything at all stands under the name, so nothing planted there is ever
// written through. Returns kNoFile on failure.
FileHandle createExclusive(const char* path, Sharing sharing = Sharing::AsUsual);

// True when anything at all stands under the name path, a dangling link too.
bool nameExists(const char* path);

// True when the existing file at path may be written by this process.
bool isWritable(const char* path);

// True when this process may remove the name path from its folder or rename
// another file over it: the folder is writable and, where it is sticky, the file
// or the folder is this user's. False, with lastErrorText saying why, otherwise.
bool mayReplaceName(const char* path);

// True when the name path still stands for the open file, not for another one
// put in its place meanwhile. False, with lastErrorText saying so, otherwise.
bool nameHoldsFile(const char* path, FileHandle file);

// Reads up to size bytes. Returns the count read, 0 at the end, -1 on failure.
long readBytes(FileHandle file, void* buffer, std::size_t size);

// Reads up to size bytes from offset, leaving the read position alone, so that
// another thread may read the same open file meanwhile. Returns the count read, 0
// at the end, -1 on failure, and -1 at once where the system cannot read so
// without moving the position (Windows); the caller then reads in order.
long readBytesAt(FileHandle file, std::int64_t offset, void* buffer, std::size_t size);

// Moves the read position of the open file to offset bytes from its start.
// Returns false on failure.
bool seekTo(FileHandle file, std::int64_t offset);

// Writes all size bytes after those written last; a file opened by openForAppend
// (and on Windows every file) gets them at its end. Returns false on failure.
bool writeBytes(FileHandle file, const void* bytes, std::size_t size);

// Copies length bytes of from, starting at its offset, to where `to` is written
// next, inside the system where it can, without a trip through the game's
// memory. Returns the number of bytes copied, fewer than length (0 at once)
// where the system cannot copy between these files or stops short, as some
// FUSE file systems do: the caller then copies the rest itself; -1 on failure.
std::int64_t copyInSystem(FileHandle from, std::int64_t offset, std::int64_t length, FileHandle to);

// Size of the open file in bytes, or -1 on failure.
std::int64_t sizeOf(FileHandle file);

// Cuts the open file to size bytes. Returns false on failure.
bool truncateTo(FileHandle file, std::int64_t size);

// Forces the open file's content to disk. Returns false on failure.
bool syncToDisk(FileHandle file);

// Starts writing what the open file was given out to disk, without waiting, so
// that the disk works while more is written; syncToDisk still has to follow. A
// hint only: where the system has no such call, nothing happens.
void startWriteBack(FileHandle file);

// Gives file the owner and group of model where this process may (the group is
// kept when the player belongs to it), then the read and write bits of its mode:
// never set-id, sticky or execute bits. Without a model (kNoFile), the mode of a
// new file. Where the file system cannot store owners or modes (FAT, NTFS or a
// share mounted with fixed ones), the file keeps what it has.
void carryOwnership(FileHandle file, FileHandle model);

// Closes the file; kNoFile is ignored. Returns false when the close failed.
bool closeFile(FileHandle file);

// What makes an open file the same unchanged file at a later open.
struct FileIdentity {
    std::uint64_t device;
    std::uint64_t node;
    std::int64_t size;
    std::int64_t modified;  // last change of the content, in nanoseconds since 1970
};
bool operator==(const FileIdentity& a, const FileIdentity& b);

// Fills identity for the open file. Returns false on failure.
bool identifyFile(FileHandle file, FileIdentity& identity);

// Removes the name path from its folder without opening or touching what it
// names (a link, a FIFO, someone else's file). Returns true when the name is
// gone or never existed, false when it stays (a directory, no permission). A
// share's refusal to remove an open file (Busy) is tried again for a few
// seconds, unless once is Once.
enum class Tries { Several, Once };
bool removeName(const char* path, Tries tries = Tries::Several);

// Puts the closed file at from in the place of the file at to in one atomic step
// and makes the change durable; a refusal that passes (another game reading to on
// a share or on Windows) is tried again for a few seconds. Returns false on
// failure; to is then untouched, except on shares that remove it first.
bool replaceFile(const char* from, const char* to);

// ------------------------------------------------------------- the writers' lock
// Single steps only: the lock's file is made, looked at and removed with the
// calls above and below; the wait, the stale rule and the heartbeat stand above
// this layer, once for every system.

// A steady clock in milliseconds, unmoved by changes of the date, and a pause.
std::int64_t steadyMs();
void pauseMs(int ms);

// A number no other game draws, for names and marks of a game's own.
std::uint64_t uniqueNumber();

// This process as a lock's holder, four words with no line feed: "pid host machine
// started". machine names the running system and its process-id space (on Linux
// the boot id and the pid namespace); started tells the process from a later one
// given the same pid.
std::string holderMark();

// Whether the holder that mark names still runs: Alive or Gone when it ran here, in
// this system and process-id space; Unknown when it ran elsewhere (another
// machine, a container) or mark is no holder mark.
enum class Holder { Alive, Gone, Unknown };
Holder judgeHolder(const std::string& mark);

// Creates path as a new lock file open for writing at its end, readable by
// everyone and writable by the folder's group whatever the creation mask, and
// takes the system's own lock on it
// where the file system has one: the system drops that lock when the game ends,
// however it ends. Fails when anything stands under the name. On Windows the
// system deletes the file when it is closed or its game ends. Returns kNoFile
// on failure.
FileHandle createLockFile(const char* path);

// True when a live process holds the system's lock on the file at path. Where
// that lock reaches every game using the folder (local file systems, NFSv4, kernel
// SMB, Windows shares), a stopped game is told from an ended one by it; false
// where it does not reach, or nobody holds it.
bool lockFileInUse(const char* path);

// Takes the system's lock on the file at path for clearing it, while it is
// still the file judged (the same identity): Taken, with file open, and no other
// game may clear it meanwhile; Held when a live process holds it (its holder,
// or a game clearing it right now); Changed when another file stands there now;
// Unavailable where the file system has no such lock, or gives no way to it.
enum class ClearingLock { Taken, Held, Changed, Unavailable };
ClearingLock lockForClearing(const char* path, const FileIdentity& judged, FileHandle& file);

// Closes the lock file this game holds and frees its name, which must still be
// this game's: the name is removed after the close (a share removes no file that
// is open), or on Windows by the close itself.
void dropLockFile(const char* path, FileHandle lock);

// Gives the existing file at from the second name to, as a hard link. Returns
// false on failure; lastFailure() says NoLinks where the file system has none.
bool linkName(const char* from, const char* to);

// Gives the closed file at from the name to, without forcing the change to disk
// (to is free: a name of the game's own). Returns false on failure.
bool moveName(const char* from, const char* to);


// What stands under a name, looked at without following a link or blocking.
enum class NameKind { Absent, Regular, Folder, Other };
struct NameLook {
    NameKind kind;
    FileIdentity identity;  // of anything but Absent
    std::string text;       // the first bytes of a Regular file, as many as asked for
    std::uint32_t links;    // the names the file system shows it has: 1 where it shows no links
};
// Returns false, with lastErrorText saying why, when the name cannot be looked at
// or a regular file there cannot be read.
bool lookAtName(const char* path, std::size_t textLimit, NameLook& look);

// The names in the current folder that begin with prefix. Returns false on failure.
bool listNames(const char* prefix, std::vector<std::string>& names);

// True when this process may create files in the folder of path. False, with
// lastErrorText saying why, otherwise.
bool mayCreateBeside(const char* path);

// A beat on a thread of its own: calls tick every periodMs of the steady clock
// until the ticker is destroyed, which wakes the thread at once and waits for it.
class Ticker {
public:
    virtual ~Ticker() = default;
};
std::unique_ptr<Ticker> startTicker(int periodMs, std::function<void()> tick);

// What kind of failure the last call above met, for words a player can act on.
// Gone: the file system went away under the game (a share whose server or
// network failed).
enum class Failure { Other, Exists, Missing, NoLinks, Busy, Refused, Full, ReadOnly, InputOutput, Gone };
Failure lastFailure();

// The reason for the last failure of a call above in this thread, for one-line
// error reports.
const char* lastErrorText();

}  // namespace platform

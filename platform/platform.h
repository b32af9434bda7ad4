// What differs between operating systems, behind one set of declarations: the
// standard streams at start-up, the raw key read of the pauses, careful opening of
// files in a folder that others may write, the writers' lock, and the durable,
// atomic replacement of a file. One source per system implements it.
#pragma once

#include <cstddef>
#include <cstdint>

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

// Writes all size bytes. Returns false on failure.
bool writeBytes(FileHandle file, const void* bytes, std::size_t size);

// Copies length bytes of from, starting at its offset, to where `to` is written
// next, inside the system where it can, without a trip through the game's
// memory. Returns the number of bytes copied: 0 at once when the system cannot
// copy between these files (the caller then copies them itself), -1 on failure.
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

// Keeps the open file from everyone but its owner (where the system has modes).
// Returns false when the mode cannot be changed.
bool restrictToOwner(FileHandle file);

// Gives file the owner and group of model where this process may (the group is
// kept when the player belongs to it), then the read and write bits of its mode:
// never set-id, sticky or execute bits. Without a model (kNoFile), the mode of a
// new file. Returns false when the mode cannot be set.
bool carryOwnership(FileHandle file, FileHandle model);

// Closes the file; kNoFile is ignored. Returns false when the close failed.
bool closeFile(FileHandle file);

// What makes an open file the same unchanged file at a later open.
struct FileIdentity {
    std::uint64_t device;
    std::uint64_t node;
    std::int64_t size;
    std::int64_t modified;  // in the system's finest unit
};
bool operator==(const FileIdentity& a, const FileIdentity& b);

// Fills identity for the open file. Returns false on failure.
bool identifyFile(FileHandle file, FileIdentity& identity);

// Removes the name path from its folder without opening or touching what it
// names (a link, a FIFO, someone else's file). Returns true when the name is
// gone or never existed, false when it stays (a directory, no permission).
bool removeName(const char* path);

// Puts the file at from in the place of the file at to in one atomic step and
// makes the change durable. Returns false on failure, leaving to untouched.
bool replaceFile(const char* from, const char* to);

// How long a game waits for a lock another game holds, and what it does once the
// wait has lasted long enough for a player to notice.
struct LockWait {
    int limitMs;          // then the lock is given up
    int announceAfterMs;  // then announce() is called, once, with the lock's file
    void (*announce)(const char* path);
};

// Takes the writers' lock of a folder: a lock file at path that the game creates
// in one atomic step, which only those who may write the folder can do, and
// removes when released. A lock left by a game that has ended is removed first.
// Waits while another game holds it, at most wait.limitMs. Returns kNoFile, with
// lastErrorText saying why, when the wait ran out or no lock file can be made;
// folderClosed then tells whether the folder lets this process create no file.
FileHandle takeLockFile(const char* path, const LockWait& wait, bool& folderClosed);
void releaseLockFile(const char* path, FileHandle lock);

// The system's own exclusive lock on the existing regular file path, for a folder
// where no lock file can be made; waits as takeLockFile does. Returns kNoFile when
// the wait ran out or the system cannot lock the file there.
FileHandle takeSystemLock(const char* path, const LockWait& wait);
void releaseSystemLock(FileHandle lock);

// The reason for the last failure of a call above in this thread, for one-line
// error reports.
const char* lastErrorText();

}  // namespace platform

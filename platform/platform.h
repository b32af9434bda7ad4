// What differs between operating systems, behind one set of declarations: the
// raw key read of the pauses, the lock that serialises score-file writers, and the
// durable, atomic replacement of a file. One source per system implements it.
#pragma once

#include <cstdint>

namespace platform {

// True when standard input is an interactive terminal.
bool stdinIsTerminal();

// Reads one key from the terminal without echo and without Enter, leaving the
// buffered standard input alone. Returns at once when standard input is not a
// terminal. The terminal's mode is restored on every way out, signals included.
void readRawKey();

// Takes an exclusive lock on the file at path, waiting for it; the file must
// exist and is never renamed. Returns a handle, or -1 when it cannot be locked.
int lockFile(const char* path);
void unlockFile(int handle);

// Forces the file's content to disk. Returns false when that fails.
bool syncFile(const char* path);

// Puts the file at from in the place of the file at to in one atomic step, with
// the old file's permissions, and makes the change durable. Returns false on
// failure, in which case the file at to is untouched.
bool replaceFile(const char* from, const char* to);

// Size of the file in bytes, or -1 when it does not exist or cannot be examined.
std::int64_t fileSize(const char* path);

// Cuts the file back to size bytes. Returns false on failure.
bool truncateFile(const char* path, std::int64_t size);

// The system's text for the last failed call, for one-line error reports.
const char* lastErrorText();

}  // namespace platform

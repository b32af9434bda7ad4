// Buffered reading of the game's files: bytes come through one fixed buffer and
// line ends are found with memchr, so a file is never held whole in memory and a
// long file costs about what reading it costs. A byte string can stand in for a
// file, which is how the tests and the checker feed the readers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/platform.h"

inline constexpr std::size_t kReadBufferSize = 64 * 1024;

class ByteReader {
public:
    explicit ByteReader(platform::FileHandle file) : file_(file) {}
    explicit ByteReader(std::string_view bytes)
        : start_(bytes.data()), next_(bytes.data()), end_(bytes.data() + bytes.size()) {}
    ByteReader(const ByteReader&) = delete;
    ByteReader& operator=(const ByteReader&) = delete;

    // The bytes at hand, refilled from the file when none are left; empty only at
    // the end of the file or after a read error.
    std::string_view available();
    // At least want bytes at hand in one piece, fewer only at the end of the file;
    // want is at most the buffer's size. Bytes at hand move, so earlier views
    // of them are no longer good.
    std::string_view window(std::size_t want);
    // Marks count bytes of available() as read.
    void consume(std::size_t count) { next_ += count; }

    // The next byte without reading it, or -1 at the end.
    int peek() { return available().empty() ? -1 : static_cast<unsigned char>(*next_); }

    // Reads past the next line feed; false when the end came first.
    bool skipLine();

    // Goes on from offset, which lies ahead, leaving the bytes before it unread.
    void skipTo(std::int64_t offset);

    // True when no bytes lie beyond those at hand (a byte string always).
    bool reachesEnd() const { return file_ == platform::kNoFile || ended_ || failed_; }
    // True when a read of the file failed (the end of a file is no failure).
    bool failed() const { return failed_; }
    // Bytes read so far from the start.
    std::int64_t offset() const { return consumedBefore_ + (next_ - start_); }

private:
    platform::FileHandle file_ = platform::kNoFile;
    const char* start_ = nullptr;  // start of the bytes now at hand
    const char* next_ = nullptr;
    const char* end_ = nullptr;
    std::int64_t consumedBefore_ = 0;
    bool failed_ = false;
    bool ended_ = false;  // the file said it has no more bytes
    char buffer_[kReadBufferSize];
};

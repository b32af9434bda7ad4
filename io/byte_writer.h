// Buffered writing of the game's files: bytes gather in one fixed buffer and go
// out in large blocks. A byte string can stand in for the file (tests, checker).
// What was written since a mark can be taken back while it is still buffered,
// which lets a copy drop a record after reading it to its end.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/platform.h"

inline constexpr std::size_t kWriteBufferSize = 64 * 1024;
// Bytes written to a file between two hints to start writing them to disk.
inline constexpr std::size_t kWriteBackStep = 4 * 1024 * 1024;

class ByteWriter {
public:
    explicit ByteWriter(platform::FileHandle file) : file_(file) {}
    explicit ByteWriter(std::string& text) : text_(&text) {}
    ByteWriter(const ByteWriter&) = delete;
    ByteWriter& operator=(const ByteWriter&) = delete;

    void put(char byte) {
        if (used_ == sizeof buffer_) flush();
        buffer_[used_++] = byte;
    }
    void write(std::string_view bytes);

    // Makes sure room bytes can be written without a flush, so that a mark taken
    // now stays good for that many bytes. room is at most the buffer's size.
    void reserve(std::size_t room);
    std::size_t mark() const { return used_; }
    // Drops what was written since mark; only valid while nothing was flushed since.
    void dropFrom(std::size_t mark) { used_ = mark; }

    // Hands the buffered bytes on. Returns false once any write has failed.
    bool flush();
    bool failed() const { return failed_; }

private:
    platform::FileHandle file_ = platform::kNoFile;
    std::string* text_ = nullptr;
    std::size_t used_ = 0;
    std::size_t unsent_ = 0;  // bytes written to the file since the last write-back hint
    bool failed_ = false;
    char buffer_[kWriteBufferSize];
};

// Buffered reading through a fixed buffer (see byte_reader.h).
#include "io/byte_reader.h"

#include <cstring>

std::string_view ByteReader::available() {
    if (next_ == end_ && file_ != platform::kNoFile && !failed_ && !ended_) {
        consumedBefore_ += next_ - start_;
        long count = platform::readBytes(file_, buffer_, sizeof buffer_);
        failed_ = count < 0;
        ended_ = count == 0;
        start_ = next_ = buffer_;
        end_ = buffer_ + (count > 0 ? count : 0);
    }
    return std::string_view(next_, static_cast<std::size_t>(end_ - next_));
}

std::string_view ByteReader::window(std::size_t want) {
    std::size_t rest = static_cast<std::size_t>(end_ - next_);
    if (rest >= want || file_ == platform::kNoFile) return available();
    // The rest moves to the buffer's start and more is read behind it.
    consumedBefore_ += next_ - start_;
    if (rest > 0) std::memmove(buffer_, next_, rest);  // a fresh reader has no bytes, nor a place for them
    start_ = next_ = buffer_;
    end_ = buffer_ + rest;
    while (static_cast<std::size_t>(end_ - next_) < want && !failed_ && !ended_) {
        long count = platform::readBytes(file_, buffer_ + rest, sizeof buffer_ - rest);
        failed_ = count < 0;
        ended_ = count == 0;
        if (count > 0) {
            end_ += count;
            rest += static_cast<std::size_t>(count);
        }
    }
    return std::string_view(next_, static_cast<std::size_t>(end_ - next_));
}

void ByteReader::skipTo(std::int64_t offset) {
    if (file_ == platform::kNoFile) {
        next_ = start_ + (offset - consumedBefore_ < end_ - start_ ? offset - consumedBefore_ : end_ - start_);
        return;
    }
    failed_ = failed_ || !platform::seekTo(file_, offset);
    ended_ = false;
    consumedBefore_ = offset;
    start_ = next_ = end_ = buffer_;
}

bool ByteReader::skipLine() {
    for (std::string_view bytes = available(); !bytes.empty(); bytes = available()) {
        const void* feed = std::memchr(bytes.data(), '\n', bytes.size());
        if (feed != nullptr) {
            consume(static_cast<std::size_t>(static_cast<const char*>(feed) - bytes.data()) + 1);
            return true;
        }
        consume(bytes.size());
    }
    return false;
}

// Buffered writing through a fixed buffer (see byte_writer.h).
#include "io/byte_writer.h"

#include <cstring>

void ByteWriter::write(std::string_view bytes) {
    while (!bytes.empty()) {
        if (used_ == sizeof buffer_) flush();
        std::size_t room = sizeof buffer_ - used_;
        std::size_t part = bytes.size() < room ? bytes.size() : room;
        std::memcpy(buffer_ + used_, bytes.data(), part);
        used_ += part;
        bytes.remove_prefix(part);
    }
}

void ByteWriter::reserve(std::size_t room) {
    if (sizeof buffer_ - used_ < room) flush();
}

bool ByteWriter::flush() {
    if (used_ > 0 && !failed_) {
        if (text_ != nullptr) {
            text_->append(buffer_, used_);
        } else {
            failed_ = !platform::writeBytes(file_, buffer_, used_);
            unsent_ += used_;
            if (unsent_ >= kWriteBackStep) {  // a long file: the disk may start on it meanwhile
                platform::startWriteBack(file_);
                unsent_ = 0;
            }
        }
    }
    used_ = 0;
    return !failed_;
}

// Judging the second half of a long score file on a second processor while the
// lookup reads the first: a helper thread measures how far the lines in the
// writer's form go from the first line start past the middle, and the lookup,
// when it reaches that line start, passes over them unread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>

#include "io/byte_reader.h"
#include "platform/platform.h"

class PlainRunAhead {
public:
    // Starts the helper for a file of size bytes when it is long enough to gain
    // from it and the system can read the file at an offset; otherwise nothing
    // happens and from() is -1.
    PlainRunAhead(platform::FileHandle file, std::int64_t size, std::string_view name);
    ~PlainRunAhead();  // stops the helper, if it still runs, and waits for it
    PlainRunAhead(const PlainRunAhead&) = delete;
    PlainRunAhead& operator=(const PlainRunAhead&) = delete;

    // Where the helper's lines start (just after a line feed), or -1.
    std::int64_t from() const { return from_; }
    // Waits for the helper: the offset of the line feed that ends its last plain
    // line, from() - 1 when there is none. Between from() and there, every line
    // is one takePlainLines would take, with single line feeds between them.
    // Only for a from() of 0 or more.
    std::int64_t plainUntil();
    // True once plainUntil() was asked: the lookup reached from().
    bool reached() const { return reached_; }

private:
    void measure();

    platform::FileHandle file_;
    std::string name_;
    std::int64_t from_ = -1;
    std::int64_t plainUntil_ = -1;
    bool reached_ = false;
    std::atomic<bool> stop_{false};
    std::thread helper_;
    char buffer_[kReadBufferSize];
};

// Judging the second half of a long score file on a second processor while the
// lookup (or the append check) reads the first: a helper thread measures how far
// the lines in the writer's form go from the first line start past the middle,
// and the reader, when it reaches that line start, passes over them unread.
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
    // When in stands at from(), waits for the helper and moves in on to the line
    // feed that ends the helper's last plain line. Between from() and there,
    // every line is one takePlainLines would take, with single line feeds
    // between them. Returns false, with in left alone, when in stands elsewhere
    // or the helper found no plain line.
    bool passOver(ByteReader& in);
    // True once passOver moved a reader on.
    bool passedOver() const { return passedOver_; }

private:
    void measure();

    platform::FileHandle file_;
    std::string name_;
    std::int64_t from_ = -1;
    std::int64_t plainUntil_ = -1;
    bool passedOver_ = false;
    std::atomic<bool> stop_{false};
    std::thread helper_;
    char buffer_[kReadBufferSize];
};

// Passes in, standing at a record's start, over the plain lines there whose
// name is not name: those ahead judged, when in stands at its from(), or else
// those takePlainLines takes, which end before from(). ahead, when not null,
// was made for the file in reads and for the same name.
// Returns false when there are none.
bool passPlainLines(ByteReader& in, std::string_view name, PlainRunAhead* ahead);

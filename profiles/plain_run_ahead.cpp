// The lookup's helper for long score files (see plain_run_ahead.h). It reads
// the same open file as the lookup, at offsets, so both see the same bytes and
// neither moves the other's position.
#include "profiles/plain_run_ahead.h"

#include <cstring>
#include <limits>
#include <system_error>

#include "profiles/plain_line.h"
#include "profiles/speed_paths.h"

namespace {

// Shorter files are read by the lookup alone: starting a thread would cost more
// than it gains.
constexpr std::int64_t kShortestSplitFile = 1 << 20;

}  // namespace

PlainRunAhead::PlainRunAhead(platform::FileHandle file, std::int64_t size, std::string_view name)
    : file_(file), name_(name) {
    if (!scoreSpeedPaths.runAhead || size < kShortestSplitFile) return;
    std::int64_t middle = size / 2;
    long count = platform::readBytesAt(file_, middle, buffer_, 4096);
    const void* feed = count > 0 ? std::memchr(buffer_, '\n', static_cast<std::size_t>(count)) : nullptr;
    if (feed == nullptr) return;
    std::int64_t from = middle + (static_cast<const char*>(feed) - buffer_) + 1;
    plainUntil_ = from - 1;
    from_ = from;
    try {
        helper_ = std::thread(&PlainRunAhead::measure, this);
    } catch (const std::system_error&) {
        from_ = -1;  // no thread to be had: the lookup reads it all itself
        plainUntil_ = -1;
    }
}

PlainRunAhead::~PlainRunAhead() {
    stop_ = true;
    if (helper_.joinable()) helper_.join();
}

bool PlainRunAhead::passOver(ByteReader& in) {
    if (from_ < 0 || in.offset() != from_) return false;
    if (helper_.joinable()) helper_.join();
    if (plainUntil_ <= from_) return false;
    in.skipTo(plainUntil_);
    passedOver_ = true;
    return true;
}

// Measures a buffer at a time, each starting with the line after the last plain
// one: a line that ends the run is then the first one read, whether it is not
// plain or only went on past the bytes read before.
void PlainRunAhead::measure() {
    for (std::int64_t at = from_; !stop_; at = plainUntil_ + 1) {
        long count = platform::readBytesAt(file_, at, buffer_, sizeof buffer_);
        if (count <= 0) return;
        std::size_t run = measurePlainLines(std::string_view(buffer_, static_cast<std::size_t>(count)), name_);
        if (run == 0) return;
        plainUntil_ = at + static_cast<std::int64_t>(run);
    }
}

bool passPlainLines(ByteReader& in, std::string_view name, PlainRunAhead* ahead) {
    if (!scoreSpeedPaths.plainLines) return false;
    if (ahead != nullptr && ahead->passOver(in)) return true;
    std::int64_t from = ahead != nullptr ? ahead->from() : -1;
    return !takePlainLines(in, name, from > in.offset() ? from : std::numeric_limits<std::int64_t>::max()).empty();
}

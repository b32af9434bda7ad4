// Recognising score lines in the writer's form (see plain_line.h). Every byte of
// a big score file passes through isPlainRecordLine, so it looks at sixteen bytes
// at a time, with the compiler's portable vector types.
#include "profiles/plain_line.h"

#include <cstdint>
#include <cstring>

#include "profiles/score_record.h"

namespace {

using Bytes = unsigned char __attribute__((vector_size(16)));  // sixteen bytes of text
using Lanes = signed char __attribute__((vector_size(16)));    // a comparison: -1 where true, 0 where not

// Longest line looked at here: longer than any whole record in the writer's form.
constexpr std::size_t kLongestPlainLine = 128;
constexpr Bytes kLaneNumbers = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

Bytes loadBytes(const unsigned char* at) {
    Bytes bytes;
    std::memcpy(&bytes, at, sizeof bytes);
    return bytes;
}

bool anyLane(Lanes lanes) {
    std::uint64_t halves[2];
    std::memcpy(halves, &lanes, sizeof halves);
    return (halves[0] | halves[1]) != 0;
}

// Sum of the lanes, each at most 255 / 16.
unsigned sumLanes(Lanes lanes) {
    std::uint64_t halves[2];
    std::memcpy(halves, &lanes, sizeof halves);
    constexpr std::uint64_t kOnes = 0x0101010101010101;
    return static_cast<unsigned>(((halves[0] * kOnes) >> 56) + ((halves[1] * kOnes) >> 56));
}

// True when the line is six tokens joined by five single blanks, with no other
// byte below 0x21, and no blank followed by a number the writer would write
// otherwise (with a plus, or a leading zero). A label that only looks like such
// a number is refused too; the general readers then take its line.
bool isPlainRecordLine(std::string_view line, std::string_view name) {
    std::size_t size = line.size();
    if (size < 2 * kScoreFields - 1 || size > kLongestPlainLine || static_cast<unsigned char>(line.front()) < 0x21 ||
        static_cast<unsigned char>(line.back()) < 0x21) {
        return false;
    }
    if (size > name.size() && line[name.size()] == ' ' && line.compare(0, name.size(), name) == 0) return false;
    // The line between zeros, so that the loads before and after it stay inside.
    alignas(16) unsigned char text[16 + kLongestPlainLine + 16 + 16] = {};
    std::memcpy(text + 16, line.data(), size);
    Lanes odd = {}, blanks = {};
    for (std::size_t at = 16; at < 16 + size; at += 16) {
        Bytes here = loadBytes(text + at), next = loadBytes(text + at + 1), after = loadBytes(text + at + 2);
        Lanes blank = here == ' ';
        Lanes inLine = kLaneNumbers + static_cast<unsigned char>(at - 16) < static_cast<unsigned char>(size);
        odd |= ((here < 0x21) & inLine) ^ blank;
        odd |= blank & ((next == ' ') | (next == '+') | ((next == '0') & (after > ' ')) | ((next == '-') & (after == '0')));
        blanks -= blank;
    }
    return !anyLane(odd) && sumLanes(blanks) == kScoreFields - 1;
}

// The next line alone; it may end at the end of the file.
bool takePlainLine(ByteReader& in, std::string_view name, std::string_view& line) {
    std::string_view window = in.window(kRecordWindow);
    const char* feed = static_cast<const char*>(std::memchr(window.data(), '\n', window.size()));
    if (feed == nullptr && !in.reachesEnd()) return false;  // the line may go on
    line = window.substr(0, feed != nullptr ? static_cast<std::size_t>(feed - window.data()) : window.size());
    if (!isPlainRecordLine(line, name)) return false;
    in.consume(line.size());
    return true;
}

// As many lines as the buffer holds whole, each followed by its line feed.
std::string_view takePlainRun(ByteReader& in, std::string_view name) {
    std::string_view window = in.window(kRecordWindow);
    std::size_t run = 0;  // the end of the last line taken
    for (std::size_t at = 0; at < window.size() && static_cast<unsigned char>(window[at]) > ' '; at = run + 1) {
        const char* feed = static_cast<const char*>(std::memchr(window.data() + at, '\n', window.size() - at));
        if (feed == nullptr) break;  // the last line is left to takePlainLine, which knows about the end
        std::size_t end = static_cast<std::size_t>(feed - window.data());
        if (!isPlainRecordLine(window.substr(at, end - at), name)) break;
        run = end;
    }
    in.consume(run);
    return window.substr(0, run);
}

}  // namespace

std::string_view takePlainLines(ByteReader& in, std::string_view name) {
    std::string_view run = takePlainRun(in, name);
    std::string_view line;
    if (run.empty() && takePlainLine(in, name, line)) return line;
    return run;
}

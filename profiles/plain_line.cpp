// Recognising score lines in the writer's form (see plain_line.h). Every byte of
// a big score file passes through here, so bytes are classified sixteen at a time
// with the compiler's portable vector types, and lines are then judged by the
// bits of 64 bytes at a time: where the line feeds and blanks are, and where a
// byte stands that no plain line may hold.
#include "profiles/plain_line.h"

#include <cstdint>
#include <cstring>

#include "profiles/score_record.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

using Bytes = unsigned char __attribute__((vector_size(16)));  // sixteen bytes of text
using Lanes = signed char __attribute__((vector_size(16)));    // a comparison: -1 where true, 0 where not

constexpr std::size_t kShortestPlainLine = 2 * kScoreFields - 1;  // six one-byte tokens
// Longest line looked at here: longer than any whole record in the writer's form.
constexpr std::size_t kLongestPlainLine = 128;
constexpr std::size_t kBlock = 64;      // bytes judged by one word of bits
constexpr std::size_t kLookAhead = 2;   // bytes after a blank that decide about it

Bytes loadBytes(const char* at) {
    Bytes bytes;
    std::memcpy(&bytes, at, sizeof bytes);
    return bytes;
}

// One bit a lane, lane 0 lowest. SSE2 has an instruction for it; elsewhere the
// lanes are taken one by one, whatever the byte order.
std::uint64_t bitsOf(Lanes lanes) {
#if defined(__SSE2__)
    __m128i vector;
    std::memcpy(&vector, &lanes, sizeof vector);
    return static_cast<std::uint16_t>(_mm_movemask_epi8(vector));
#else
    std::uint64_t bits = 0;
    for (unsigned lane = 0; lane < sizeof lanes; ++lane) bits |= std::uint64_t{lanes[lane] != 0} << lane;
    return bits;
#endif
}

// Where the line feeds and blanks of 64 bytes stand, and the bytes no plain line
// may hold: any other byte below 0x21, and a blank followed by anything but the
// start of a token the writer would write as it stands (so not by a blank, a
// line end, a plus, a leading zero or a minus zero).
struct BlockBits {
    std::uint64_t feeds = 0, blanks = 0, odd = 0;
};

bool isLow(unsigned char byte) { return byte < 0x21; }

// True when a blank followed by these two bytes starts a number the writer would
// write otherwise.
bool startsOddNumber(unsigned char next, unsigned char after) {
    return next == '+' || (next == '0' && after > ' ') || (next == '-' && after == '0');
}

// text must hold kBlock + kLookAhead bytes. The vector part only marks the bytes
// where a number may start; the few blanks followed by one are looked at one by one.
BlockBits classifyBlock(const char* text) {
    BlockBits bits;
    std::uint64_t low = 0, signs = 0;
    for (std::size_t at = 0; at < kBlock; at += 16) {
        Bytes here = loadBytes(text + at);
        bits.feeds |= bitsOf(here == '\n') << at;
        bits.blanks |= bitsOf(here == ' ') << at;
        low |= bitsOf(here < 0x21) << at;
        signs |= bitsOf((here == '+') | (here == '-') | (here == '0')) << at;
    }
    const auto* after = reinterpret_cast<const unsigned char*>(text + kBlock);
    std::uint64_t lowNext = (low >> 1) | (std::uint64_t{isLow(after[0])} << 63);
    std::uint64_t signNext = (signs >> 1) | (std::uint64_t{after[0] == '+' || after[0] == '-' || after[0] == '0'} << 63);
    bits.odd = (low & ~bits.blanks & ~bits.feeds) | (bits.blanks & lowNext);
    for (std::uint64_t suspects = bits.blanks & signNext; suspects != 0; suspects &= suspects - 1) {
        unsigned blank = static_cast<unsigned>(__builtin_ctzll(suspects));
        const auto* next = reinterpret_cast<const unsigned char*>(text + blank + 1);
        if (startsOddNumber(next[0], next[1])) bits.odd |= std::uint64_t{1} << blank;
    }
    return bits;
}

// The 64 bytes from at, or the last ones of text followed by zeros, which count
// as odd bytes and never as line feeds.
BlockBits classifyBlockAt(std::string_view text, std::size_t at) {
    if (at + kBlock + kLookAhead <= text.size()) return classifyBlock(text.data() + at);
    char padded[kBlock + kLookAhead] = {};
    std::memcpy(padded, text.data() + at, text.size() - at);
    return classifyBlock(padded);
}

// Bits set in a word. Counting them is the heart of judging a line; x86
// processors have had an instruction for it since 2008, but the baseline the
// game is built for has not, so there the judge is compiled both ways and the
// processor picks (see measurePlainLines). Without the instruction the bits are
// added up in parallel, which beats the library's call.
template <bool kCountInstruction>
inline __attribute__((always_inline)) unsigned countBits(std::uint64_t bits) {
    if (kCountInstruction) return static_cast<unsigned>(__builtin_popcountll(bits));
    bits -= (bits >> 1) & 0x5555555555555555;
    bits = (bits & 0x3333333333333333) + ((bits >> 2) & 0x3333333333333333);
    bits = (bits + (bits >> 4)) & 0x0F0F0F0F0F0F0F0F;
    return static_cast<unsigned>((bits * 0x0101010101010101) >> 56);
}

std::uint64_t loadWord(const char* at) {
    std::uint64_t word;
    std::memcpy(&word, at, sizeof word);
    return word;
}

// Names of one length often differ only near their end (numbered names), so the
// last eight bytes are compared first, in one step.
bool startsWithName(const char* line, std::size_t size, std::string_view name) {
    std::size_t length = name.size();
    if (size <= length || line[length] != ' ') return false;
    if (length >= 8 && loadWord(line + length - 8) != loadWord(name.data() + length - 8)) return false;
    return std::memcmp(line, name.data(), length) == 0;
}

// The plain lines at the start of text, as far as each is followed by its line
// feed; returns the end of the last one (0 when the first is not plain). Blanks
// are counted from the start of text, so a line's count is the difference of
// the counts at its two ends.
template <bool kCountInstruction>
inline __attribute__((always_inline)) std::size_t measurePlainLinesWith(std::string_view text, std::string_view name) {
    std::size_t run = 0, start = 0;   // the last line's end, and the next line's start
    unsigned blanksBefore = 0, blanksAtStart = 0;
    for (std::size_t at = 0; at < text.size(); at += kBlock) {
        BlockBits bits = classifyBlockAt(text, at);
        // A line ending past the first odd byte of the block holds it (the
        // lines before were plain, or the run would have ended).
        std::size_t firstOdd = bits.odd != 0 ? at + static_cast<unsigned>(__builtin_ctzll(bits.odd)) : text.size();
        for (std::uint64_t feeds = bits.feeds; feeds != 0; feeds &= feeds - 1) {
            unsigned feed = static_cast<unsigned>(__builtin_ctzll(feeds));
            std::size_t end = at + feed;
            unsigned blanks = blanksBefore + countBits<kCountInstruction>(bits.blanks & ((std::uint64_t{1} << feed) - 1));
            std::size_t size = end - start;
            if (end > firstOdd || blanks - blanksAtStart != kScoreFields - 1 || size < kShortestPlainLine ||
                size > kLongestPlainLine || isLow(static_cast<unsigned char>(text[start])) ||
                startsWithName(text.data() + start, size, name)) {
                return run;
            }
            run = end;
            start = end + 1;
            blanksAtStart = blanks;
        }
        blanksBefore += countBits<kCountInstruction>(bits.blanks);
        // The line under way holds an odd byte or is too long already.
        if (firstOdd < text.size() || at + kBlock - start > kLongestPlainLine) return run;
    }
    return run;
}

#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("popcnt"))) std::size_t measurePlainLinesCounting(std::string_view text, std::string_view name) {
    return measurePlainLinesWith<true>(text, name);
}
#endif

}  // namespace

std::size_t measurePlainLines(std::string_view text, std::string_view name) {
#if defined(__x86_64__) || defined(__i386__)
    static const bool counts = __builtin_cpu_supports("popcnt");
    return counts ? measurePlainLinesCounting(text, name) : measurePlainLinesWith<false>(text, name);
#else
    return measurePlainLinesWith<true>(text, name);
#endif
}

namespace {

// True when the line is six tokens joined by five single blanks, with no other
// byte below 0x21, and no blank followed by a number the writer would write
// otherwise (with a plus, or a leading zero). A label that only looks like such
// a number is refused too; the general readers then take its line.
bool isPlainRecordLine(std::string_view line, std::string_view name) {
    if (line.size() > kLongestPlainLine) return false;
    char text[kLongestPlainLine + 1];
    std::memcpy(text, line.data(), line.size());
    text[line.size()] = '\n';
    return !line.empty() && measurePlainLines(std::string_view(text, line.size() + 1), name) == line.size();
}

// The last line of the file, which no line feed ends. (A line that has one was
// judged by measurePlainLines already.)
bool takeLastPlainLine(ByteReader& in, std::string_view name, std::string_view& line) {
    std::string_view window = in.window(kRecordWindow);
    if (!in.reachesEnd() || std::memchr(window.data(), '\n', window.size()) != nullptr) return false;
    if (!isPlainRecordLine(window, name)) return false;
    line = window;
    in.consume(line.size());
    return true;
}

// As many lines as the buffer holds whole, each followed by its line feed, and
// none past until.
std::string_view takePlainRun(ByteReader& in, std::string_view name, std::int64_t until) {
    std::string_view window = in.window(kRecordWindow);
    if (until > in.offset() && until - in.offset() < static_cast<std::int64_t>(window.size())) {
        window = window.substr(0, static_cast<std::size_t>(until - in.offset()));
    }
    std::size_t run = measurePlainLines(window, name);
    in.consume(run);
    return window.substr(0, run);
}

}  // namespace

std::string_view takePlainLines(ByteReader& in, std::string_view name, std::int64_t until) {
    std::string_view run = takePlainRun(in, name, until);
    std::string_view line;
    if (run.empty() && takeLastPlainLine(in, name, line)) return line;
    return run;
}

// Reading question sources: the byte order mark, the line ends and the choice
// between UTF-8 and Windows-1251.
#include "tools/source_text.h"

#include "core/cp1251.h"

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

// Windows-1251 when more sequences beyond ASCII fail to decode as UTF-8 than decode.
SourceEncoding guessEncoding(std::string_view text) {
    if (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF")) return SourceEncoding::Utf16;
    long decoded = 0;
    long failed = 0;
    for (std::size_t at = 0; at < text.size();) {
        if (static_cast<unsigned char>(text[at]) < 0x80) {
            ++at;
            continue;
        }
        unsigned long point = 0;
        std::size_t length = cp1251::decodeUtf8(text.data(), text.size(), at, point);
        if (length == 0) {
            ++failed;
            ++at;
        } else {
            ++decoded;
            at += length;
        }
    }
    return failed > decoded ? SourceEncoding::Windows1251 : SourceEncoding::Utf8;
}

// The lines of text, each without its line feed and a carriage return before it;
// a last line without a line feed is a line all the same.
std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return lines;
}

}  // namespace

bool lineInWindows1251(SourceEncoding encoding, std::string_view line, std::string& converted, std::size_t& badAt) {
    if (encoding == SourceEncoding::Windows1251) {
        badAt = line.find('\x98');
        converted = line;
        return badAt == std::string_view::npos;
    }
    converted.assign(line.size(), '\0');
    long length = cp1251::fromUtf8(line.data(), line.size(), converted.data(), badAt);
    if (length < 0) return false;
    converted.resize(static_cast<std::size_t>(length));
    return true;
}

SourceText splitSource(const std::string& bytes) {
    std::string_view text = bytes;
    SourceText source;
    if (text.starts_with(kUtf8Mark)) {
        text.remove_prefix(kUtf8Mark.size());
    } else {
        source.encoding = guessEncoding(text);
    }
    if (source.encoding != SourceEncoding::Utf16) source.lines = splitLines(text);
    return source;
}

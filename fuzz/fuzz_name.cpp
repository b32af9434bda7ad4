// Typed bytes as standard input -> readNameLine until it returns -1, each line put
// to the name rule. Checks that each name is its line's first 23 bytes less a
// closing carriage return, and that an accepted name is 1 to 23 bytes with no
// whitespace, control byte or NUL: one the score file can store.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "app/console.h"
#include "app/player_name.h"
#include "fuzz/fuzz_support.h"

namespace {

const std::string& stdinFile() {
    static const std::string path = makeScratchFolder() + "/stdin";
    return path;
}

void feedStandardInput(std::string_view bytes) {
    std::FILE* file = std::fopen(stdinFile().c_str(), "wb");
    require(file != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() &&
                std::fclose(file) == 0, "the scratch input file can be written");
    require(std::freopen(stdinFile().c_str(), "rb", stdin) != nullptr, "standard input can be reopened");
}

// What the name line keeps of one typed line, by the rule readNameLine states.
std::string_view expectedName(std::string_view line) {
    std::string_view kept = line.substr(0, kNameSize - 1);
    if (line.size() <= kNameSize - 1 && !kept.empty() && kept.back() == '\r') kept.remove_suffix(1);
    return kept;
}

bool acceptable(std::string_view name) {
    if (name.empty() || name.size() > kNameSize - 1) return false;
    for (unsigned char byte : name) {
        if (byte <= ' ' || byte == 0x7F) return false;  // blanks, controls and NUL all sit below 0x21
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    feedStandardInput(rest);
    char name[kNameSize];
    for (int length = readNameLine(name); length >= 0; length = readNameLine(name)) {
        require(!rest.empty(), "a line is read only while input is left");
        std::size_t feed = std::min(rest.find('\n'), rest.size());
        std::string_view expected = expectedName(rest.substr(0, feed));
        rest.remove_prefix(std::min(feed + 1, rest.size()));
        require(std::string_view(name, static_cast<std::size_t>(length)) == expected && name[length] == '\0',
                "the name is the line's first 23 bytes, less a closing carriage return");
        bool accepted = nameRefusal(name, length) == nullptr;
        require(accepted == acceptable(expected), "a name is accepted exactly when it is one word of plain bytes");
        require(!accepted || isStorableName(name), "an accepted name can be stored");
    }
    require(rest.empty(), "input ends only after its last line");
    return 0;
}

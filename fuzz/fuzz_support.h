// Shared by the fuzz targets: an invariant check that aborts (libFuzzer then keeps
// the input as a crash), a scratch folder per process, and the score file's
// records cut from raw bytes by a tokenizer of its own, to hold the game's reader to.
#pragma once

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/run_state.h"
#include "io/byte_writer.h"
#include "profiles/score_record.h"

inline void require(bool holds, const char* invariant) {
    if (holds) return;
    std::printf("invariant broken: %s\n", invariant);  // stdout: the runs close stderr
    std::fflush(stdout);
    std::abort();
}

// A fresh folder under $TMPDIR (or a memory-backed one), made once per process
// and removed at a normal exit; after a crash it stays for a look.
inline std::string makeScratchFolder() {
    static std::string made;
    const char* root = std::getenv("TMPDIR");
    std::string pattern = std::string(root != nullptr ? root : "/dev/shm") + "/pzfuzz.XXXXXX";
    require(mkdtemp(pattern.data()) != nullptr, "a scratch folder can be made (set TMPDIR)");
    made = pattern;
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(made, ignored);  // links inside are removed, never followed
    });
    return pattern;
}

// The whitespace-separated tokens of bytes, six to a record; the last group may be
// shorter (a record cut short).
using TokenGroup = std::vector<std::string>;
inline std::vector<TokenGroup> scoreGroupsOf(std::string_view bytes) {
    constexpr std::string_view kBlanks(" \t\n\v\f\r");
    std::vector<TokenGroup> groups;
    for (std::size_t at = bytes.find_first_not_of(kBlanks); at != bytes.npos; at = bytes.find_first_not_of(kBlanks, at)) {
        std::size_t end = std::min(bytes.find_first_of(kBlanks, at), bytes.size());
        if (groups.empty() || groups.back().size() == kScoreFields) groups.emplace_back();
        groups.back().emplace_back(bytes.substr(at, end - at));
        at = end;
    }
    return groups;
}

inline std::string joined(const TokenGroup& group) {
    std::string text;
    for (const std::string& token : group) text += (text.empty() ? "" : " ") + token;
    return text;
}

// A number field as formatted extraction of an int takes it: sign, digits, 32 bits.
inline bool numberOf(std::string token, std::int32_t& value) {
    if (token.size() > kMaxNumberLength) return false;
    if (token.size() > 1 && token[0] == '+' && token[1] != '-') token.erase(0, 1);
    auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), value);
    return error == std::errc() && end == token.data() + token.size();
}

inline bool wordFits(const std::string& token, int size) {
    return token.size() < static_cast<std::size_t>(size) && token.find('\0') == std::string::npos;
}

// The profile a group of six tokens makes when every field fits, else false.
inline bool wholeRecordOf(const TokenGroup& group, PlayerProfile& profile) {
    if (group.size() != kScoreFields || !wordFits(group[0], kNameSize) ||
        !wordFits(group[4], kCharacterLabelSize) || !wordFits(group[5], kIntellectLabelSize)) {
        return false;
    }
    copyField(profile.name, kNameSize, group[0].c_str());
    copyField(profile.characterLabel, kCharacterLabelSize, group[4].c_str());
    copyField(profile.intellectLabel, kIntellectLabelSize, group[5].c_str());
    return numberOf(group[1], profile.attempts) && numberOf(group[2], profile.correctTotal) &&
           numberOf(group[3], profile.wrongTotal);
}

// One writer for all: its 64 KiB buffer is costly to set up under ASan.
inline std::string writerForm(const PlayerProfile& profile) {
    static std::string text;
    static ByteWriter out(text);
    text.clear();
    writeScoreRecord(out, profile);
    out.flush();
    return text;
}

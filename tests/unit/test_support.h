// Shared by the unit tests: a clean run state before each test, Windows-1251
// text from readable UTF-8, and a fresh folder to work in.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "core/cp1251.h"
#include "core/run_state.h"

// Converts UTF-8 test text to the bytes the game handles.
inline std::string win1251(const std::string& utf8) {
    std::string out(utf8.size(), '\0');
    std::size_t badAt = 0;
    long length = cp1251::fromUtf8(utf8.data(), utf8.size(), out.data(), badAt);
    if (length < 0) ADD_FAILURE() << "no Windows-1251 form at byte " << badAt << " of " << utf8;
    out.resize(length < 0 ? 0 : static_cast<std::size_t>(length));
    return out;
}

// Every test starts from the zero-filled state the process starts with.
class RunStateTest : public ::testing::Test {
protected:
    void SetUp() override { std::memset(&runState, 0, sizeof runState); }
};

// A fresh folder under the system's temporary one, made the current folder by
// enter() and removed, with the old current folder back, when it goes.
class ScratchFolder {
public:
    ScratchFolder() = default;
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder() {
        if (folder_.empty()) return;
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(folder_);
    }
    // Returns false when no folder could be made.
    bool enter() {
        namespace fs = std::filesystem;
        previous_ = fs::current_path();
        for (int tries = 0; folder_.empty() && tries < 100; ++tries) {
            fs::path candidate = fs::temp_directory_path() / ("pztest." + std::to_string(std::rand()));
            if (fs::create_directory(candidate)) folder_ = candidate;
        }
        if (!folder_.empty()) fs::current_path(folder_);
        return !folder_.empty();
    }

private:
    std::filesystem::path folder_;
    std::filesystem::path previous_;
};

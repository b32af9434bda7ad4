// Shared by the unit tests: a clean run state before each test, and Windows-1251
// text from readable UTF-8.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/cp1251.h"
#include "app/run_state.h"

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

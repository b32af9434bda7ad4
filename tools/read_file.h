// Reading a whole file as bytes, for the tools that check or convert one.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

// Reads the file at path into bytes. Returns false with reason set when it
// cannot be opened or read (a folder, say).
inline bool readFileBytes(const std::string& path, std::string& bytes, std::string& reason) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        reason = std::string("cannot open: ") + std::strerror(errno);
        return false;
    }
    char block[1 << 14];
    std::size_t got = 0;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) bytes.append(block, got);
    bool failed = std::ferror(file) != 0;
    if (failed) reason = std::string("cannot read: ") + std::strerror(errno);
    std::fclose(file);
    return !failed;
}

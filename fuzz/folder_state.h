// The save target's scratch folders: entering them, the state of one name, the
// names in a folder, and the means to lay a folder out afresh for each input.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fuzz/fuzz_support.h"

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <string_view>

// One scratch folder per process, reused by every input: game/ becomes the
// current folder, outside/ is its sibling, where planted links point.
inline void enterGameFolder() {
    static const std::string folder = makeScratchFolder();
    static const bool entered = mkdir((folder + "/game").c_str(), 0700) == 0 &&
                                mkdir((folder + "/outside").c_str(), 0700) == 0 &&
                                chdir((folder + "/game").c_str()) == 0;
    require(entered, "the scratch folders can be made and entered");
}

// "absent", "link TARGET" or "file BYTES": enough to tell any change to a name.
inline std::string stateOf(const char* path) {
    struct stat info;
    if (lstat(path, &info) != 0) return "absent";
    if (S_ISLNK(info.st_mode)) {
        char target[256];
        ssize_t length = readlink(path, target, sizeof target);
        return "link " + std::string(target, length > 0 ? static_cast<std::size_t>(length) : 0);
    }
    if (!S_ISREG(info.st_mode)) return "other";
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    return "file " + bytes.str();
}

inline std::set<std::string> namesIn(const std::string& folder) {
    std::set<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        for (dirent* entry = readdir(dir); entry != nullptr; entry = readdir(dir)) names.insert(entry->d_name);
        closedir(dir);
    }
    names.erase(".");
    names.erase("..");
    return names;
}

// Unlinks every name in folder; the targets only ever plant files and links.
inline void emptyFolder(const std::string& folder) {
    for (const std::string& name : namesIn(folder)) unlink((folder + "/" + name).c_str());
}

inline void writeFile(const char* path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

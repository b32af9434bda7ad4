// The save's own names and what games left of them (see save_rooms.h).
#include "profiles/save_rooms.h"

#include <vector>

#include "core/run_state.h"
#include "platform/platform.h"

namespace {

const std::string kBuildingPrefix = std::string(kTempFile) + ".";
const std::string kCompletePrefix = "~pz2004.new.";
const std::string kReplacedPrefix = "~pz2004.old.";

std::vector<std::string> namesStarting(const std::string& prefix) {
    std::vector<std::string> names;
    platform::listNames(prefix.c_str(), names);
    return names;
}

}  // namespace

OwnNames ownNamesOf(const std::string& number) {
    return OwnNames{kBuildingPrefix + number, kCompletePrefix + number, kReplacedPrefix + number};
}

std::string replacedName(const OwnNames& names, int round) {
    return round == 0 ? names.replaced : names.replaced + "." + std::to_string(round);
}

std::string putBackLeftCopy() {
    if (platform::nameExists(kScoreFile)) return "";
    std::string newest;
    std::int64_t newestStamp = 0;
    for (const std::string& name : namesStarting(kCompletePrefix)) {
        platform::NameLook look;
        if (!platform::lookAtName(name.c_str(), 0, look) || look.kind != platform::NameKind::Regular) continue;
        if (newest.empty() || look.identity.modified > newestStamp) {
            newest = name;
            newestStamp = look.identity.modified;
        }
    }
    return !newest.empty() && platform::replaceFile(newest.c_str(), kScoreFile) ? newest : "";
}

void removeLeftCopies(const OwnNames& own) {
    for (const std::string& prefix : {kBuildingPrefix, kCompletePrefix}) {
        for (const std::string& name : namesStarting(prefix)) {
            if (name != own.building && name != own.complete) platform::removeName(name.c_str());
        }
    }
}

std::vector<std::string> leftVersions(const OwnNames& own) {
    std::vector<std::string> left;
    for (const std::string& name : namesStarting(kReplacedPrefix)) {
        if (name.compare(0, own.replaced.size(), own.replaced) != 0) left.push_back(name);
    }
    return left;
}

void leaveEmptyTemporary() {
    platform::NameLook look;
    if (!platform::lookAtName(kTempFile, 0, look) || look.kind == platform::NameKind::Folder) return;
    if (look.kind == platform::NameKind::Regular && look.identity.size == 0) return;
    platform::removeName(kTempFile);
    platform::FileHandle left = platform::createExclusive(kTempFile);
    platform::FileHandle model = platform::openForReading(kScoreFile, platform::Links::Refuse);
    if (left != platform::kNoFile) platform::carryOwnership(left, model);
    platform::closeFile(model);
    platform::closeFile(left);
}

// The platform's declarations over the simulated folder: every call that touches
// a file or a name is a point where the scheduler may act (enterCall). Linked
// into the simulator in place of the system's platform source, whose archive
// member is then never taken: a call left out here would bring it in, and the
// link would fail on its other definitions.
#include <cstring>

#include "tests/sim/sim_world.h"

namespace platform {
namespace {

using sim::world;

constexpr std::uint64_t kDevice = 7;

sim::Inode* inodeAt(const char* path) {
    auto name = world->names.find(path);
    return name == world->names.end() ? nullptr : &world->inodes[name->second];
}

sim::OpenFile* openFileOf(FileHandle file) {
    auto found = world->files.find(file);
    return found == world->files.end() ? nullptr : &found->second;
}

bool fail(Failure kind, const char* text) {
    sim::setFailure(kind, text);
    return false;
}

void unname(const std::string& name) {
    if (world->current >= 0) world->games[world->current].seen.erase(name);
    auto found = world->names.find(name);
    if (found == world->names.end()) return;
    std::uint64_t inode = found->second;
    world->names.erase(found);
    --world->inodes[inode].links;  // kept all the same: a power cut may bring its name back
}

void name(const std::string& path, std::uint64_t inode) {
    unname(path);  // forgotten there too
    world->names[path] = inode;
    ++world->inodes[inode].links;
}

std::uint64_t newInode(const char* path) {
    std::uint64_t id = world->nextInode++;
    sim::Inode& inode = world->inodes[id];
    inode.creator = world->current;
    inode.modifiedNs = sim::folderStampNs();
    name(path, id);
    return id;
}

FileHandle openOn(std::uint64_t inode, bool append) {
    FileHandle handle = world->nextHandle++;
    world->files[handle] = sim::OpenFile{inode, world->current, 0, append};
    return handle;
}

FileIdentity identityOf(std::uint64_t id) {
    const sim::Inode& inode = world->inodes[id];
    return FileIdentity{kDevice, id, static_cast<std::int64_t>(inode.data.size()), inode.modifiedNs};
}

bool hasLinks() { return world->schedule.medium != sim::Medium::NoLinks; }

// A client forgets what it saw of a file it writes itself, as a share's client does.
void forgetFile(std::uint64_t inode) {
    for (const auto& [path, id] : world->names) {
        if (id == inode) world->games[world->current].seen.erase(path);
    }
}

}  // namespace

void prepareStandardStreams() {}
void ignoreFileSizeSignal() {}
bool stdinIsTerminal() { return false; }
void readRawKey() {}

FileHandle openForReading(const char* path, Links) {
    if (!sim::enterCall()) return kNoFile;
    sim::Game& game = world->games[world->current];
    if (game.lookedUp && std::strcmp(path, kScoreFile) == 0) game.linkedScoreFile = true;  // may be right before a rename
    sim::Inode* inode = inodeAt(path);
    if (inode == nullptr) return fail(Failure::Missing, "No such file or directory"), kNoFile;
    return openOn(world->names[path], false);
}

FileHandle openForAppend(const char* path) {
    if (!sim::enterCall()) return kNoFile;
    sim::Inode* inode = inodeAt(path);
    if (inode == nullptr) return openOn(newInode(path), true);
    if (inode->links != 1) return fail(Failure::Other, "it has other hard links"), kNoFile;
    return openOn(world->names[path], true);
}

FileHandle createExclusive(const char* path, Sharing) {
    if (!sim::enterCall()) return kNoFile;
    if (inodeAt(path) != nullptr) return fail(Failure::Exists, "File exists"), kNoFile;
    return openOn(newInode(path), false);
}

bool nameExists(const char* path) { return sim::enterCall() ? inodeAt(path) != nullptr : true; }
bool isWritable(const char*) { return sim::enterCall(); }
bool mayReplaceName(const char*) { return true; }
bool mayCreateBeside(const char*) { return true; }

bool nameHoldsFile(const char* path, FileHandle file) {
    if (!sim::enterCall()) return false;
    auto found = world->names.find(path);
    sim::OpenFile* open = openFileOf(file);
    if (found != world->names.end() && open != nullptr && found->second == open->inode) return true;
    return fail(Failure::Other, "another file was put in its place");
}

long readBytes(FileHandle file, void* buffer, std::size_t size) {
    if (!sim::enterCall()) return -1;
    sim::OpenFile* open = openFileOf(file);
    const std::string& data = world->inodes[open->inode].data;
    std::size_t from = std::min(static_cast<std::size_t>(open->position), data.size());
    std::size_t count = std::min(size, data.size() - from);
    std::memcpy(buffer, data.data() + from, count);
    open->position += static_cast<std::int64_t>(count);
    return static_cast<long>(count);
}

long readBytesAt(FileHandle, std::int64_t, void*, std::size_t) { return -1; }  // the caller reads in order

bool seekTo(FileHandle file, std::int64_t offset) {
    if (!sim::enterCall()) return false;
    openFileOf(file)->position = offset;
    return true;
}

bool writeBytes(FileHandle file, const void* bytes, std::size_t size) {
    if (!sim::enterCall()) return false;
    sim::OpenFile* open = openFileOf(file);
    sim::Inode& inode = world->inodes[open->inode];
    if (open->append) open->position = static_cast<std::int64_t>(inode.data.size());
    std::size_t at = static_cast<std::size_t>(open->position);
    if (inode.data.size() < at + size) inode.data.resize(at + size);
    inode.data.replace(at, size, static_cast<const char*>(bytes), size);
    open->position += static_cast<std::int64_t>(size);
    inode.modifiedNs = sim::folderStampNs();
    ++inode.version;
    forgetFile(open->inode);
    return true;
}

std::int64_t copyInSystem(FileHandle, std::int64_t, std::int64_t, FileHandle) { return 0; }

std::int64_t sizeOf(FileHandle file) {
    if (!sim::enterCall()) return -1;
    return static_cast<std::int64_t>(world->inodes[openFileOf(file)->inode].data.size());
}

bool truncateTo(FileHandle file, std::int64_t size) {
    if (!sim::enterCall()) return false;
    sim::Inode& inode = world->inodes[openFileOf(file)->inode];
    inode.data.resize(static_cast<std::size_t>(size));
    ++inode.version;
    return true;
}

bool syncToDisk(FileHandle file) {
    if (!sim::enterCall()) return false;
    sim::Inode& inode = world->inodes[openFileOf(file)->inode];
    inode.durable = inode.data;
    return true;
}

void startWriteBack(FileHandle) {}
void carryOwnership(FileHandle, FileHandle) {}

bool closeFile(FileHandle file) {
    if (file == kNoFile) return true;
    bool entered = sim::enterCall();
    sim::OpenFile* open = openFileOf(file);
    if (open == nullptr) return false;  // closed already with a killed game
    std::uint64_t inode = open->inode;
    if (world->inodes[inode].systemLockHolder == static_cast<int>(file)) world->inodes[inode].systemLockHolder = -1;
    world->files.erase(file);
    return entered;
}

bool operator==(const FileIdentity& a, const FileIdentity& b) {
    return a.device == b.device && a.node == b.node && a.size == b.size && a.modified == b.modified;
}

bool identifyFile(FileHandle file, FileIdentity& identity) {
    if (!sim::enterCall()) return false;
    identity = identityOf(openFileOf(file)->inode);
    return true;
}

bool removeName(const char* path, Tries) {
    if (!sim::enterCall()) return false;
    sim::noteRemoval(path);
    unname(path);
    return true;
}

// A folder on SMB: a rename that fails may have removed the old file first.
bool replaceFile(const char* from, const char* to) {
    sim::Call call = sim::enterReplace();
    world->games[world->current].linkedScoreFile = false;
    if (call == sim::Call::Dead) return false;
    if (inodeAt(from) == nullptr) return fail(Failure::Missing, "No such file or directory");
    if (call == sim::Call::Fail) {
        if (!hasLinks()) unname(to);  // SMB: the old file removed first
        if (!hasLinks() || world->random() % 2 == 0) return false;
    }  // else a share made the rename and lost its reply: it fails all the same, below
    std::uint64_t inode = world->names[from];
    name(to, inode);
    unname(from);
    world->durableNames = world->names;  // the folder is forced to disk with the change
    return call == sim::Call::Go;
}

std::int64_t steadyMs() { return sim::gameEnded() ? world->nowMs + 100000000 : world->nowMs; }

void pauseMs(int ms) { sim::sleepFor(ms); }

std::uint64_t uniqueNumber() { return world->random(); }

std::string holderMark() {
    std::string machine = sim::machineOf(world->current);
    return std::to_string(1000 + world->current) + " host" + machine + " " + machine + " 1";
}

Holder judgeHolder(const std::string& mark) {
    long pid = 0;
    char host[64] = {}, machine[64] = {}, started[16] = {};
    if (std::sscanf(mark.c_str(), "%ld %63s %63s %15s", &pid, host, machine, started) != 4) return Holder::Unknown;
    int game = static_cast<int>(pid - 1000);
    if (machine != sim::machineOf(world->current) || game < 0 || game >= static_cast<int>(world->games.size())) {
        return Holder::Unknown;
    }
    const sim::Game& holder = world->games[game];
    return holder.killed || holder.finished ? Holder::Gone : Holder::Alive;
}

FileHandle createLockFile(const char* path) {
    if (!sim::enterCall()) return kNoFile;
    if (inodeAt(path) != nullptr) return fail(Failure::Exists, "File exists"), kNoFile;
    std::uint64_t inode = newInode(path);
    FileHandle handle = openOn(inode, true);
    if (world->schedule.medium == sim::Medium::Local) world->inodes[inode].systemLockHolder = static_cast<int>(handle);
    return handle;
}

bool lockFileInUse(const char* path) {
    if (!sim::enterCall()) return false;
    sim::Inode* inode = inodeAt(path);
    return inode != nullptr && inode->systemLockHolder >= 0;
}

ClearingLock lockForClearing(const char* path, const FileIdentity& judged, FileHandle& file) {
    if (!sim::enterCall()) return ClearingLock::Changed;
    if (world->schedule.medium != sim::Medium::Local) return ClearingLock::Unavailable;
    sim::Inode* inode = inodeAt(path);
    if (inode == nullptr || !(identityOf(world->names[path]) == judged)) return ClearingLock::Changed;
    if (inode->systemLockHolder >= 0) return ClearingLock::Held;
    file = openOn(world->names[path], false);
    inode->systemLockHolder = static_cast<int>(file);
    return ClearingLock::Taken;
}

void dropLockFile(const char* path, FileHandle lock) {
    closeFile(lock);
    removeName(path);
}

bool linkName(const char* from, const char* to) {
    if (!sim::enterCall()) return false;
    if (!hasLinks()) return fail(Failure::NoLinks, "Operation not permitted");
    if (inodeAt(from) == nullptr) return fail(Failure::Missing, "No such file or directory");
    if (inodeAt(to) != nullptr) return fail(Failure::Exists, "File exists");
    name(to, world->names[from]);
    if (std::strcmp(from, kScoreFile) == 0) world->games[world->current].linkedScoreFile = true;
    return true;
}

bool moveName(const char* from, const char* to) {
    if (!sim::enterCall()) return false;
    if (inodeAt(from) == nullptr) return fail(Failure::Missing, "No such file or directory");
    std::uint64_t inode = world->names[from];
    name(to, inode);
    unname(from);
    return true;
}

// A client of a cached share shows what it saw of the name, for twice the stale age.
bool lookAtName(const char* path, std::size_t textLimit, NameLook& look) {
    if (!sim::enterCall()) return false;
    sim::Game& game = world->games[world->current];
    auto seen = game.seen.find(path);
    bool cached = world->schedule.medium == sim::Medium::CachedShare;
    if (cached && seen != game.seen.end() && world->nowMs - seen->second.first < 2 * world->times.staleMs) {
        look = seen->second.second;
        look.text = look.text.substr(0, textLimit);
        return true;
    }
    look = NameLook{NameKind::Absent, {}, "", 0};
    auto found = world->names.find(path);
    if (found != world->names.end()) {
        const sim::Inode& inode = world->inodes[found->second];
        look.kind = NameKind::Regular;
        look.identity = identityOf(found->second);
        look.text = inode.data.substr(0, textLimit);
        look.links = static_cast<std::uint32_t>(inode.links);
    }
    if (cached) game.seen[path] = {world->nowMs, look};

    if (std::strcmp(path, kLockFile) == 0) game.lockSeenMs = world->nowMs;
    return true;
}

bool listNames(const char* prefix, std::vector<std::string>& names) {
    if (!sim::enterCall()) return false;
    for (const auto& [name, inode] : world->names) {
        if (name.rfind(prefix, 0) == 0) names.push_back(name);
    }
    return true;
}

std::unique_ptr<Ticker> startTicker(int periodMs, std::function<void()> tick) { return sim::startTicking(periodMs, tick); }

Failure lastFailure() { return world->games[world->current].failure; }
const char* lastErrorText() { return world->games[world->current].failureText.c_str(); }

}  // namespace platform

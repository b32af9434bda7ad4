// Inside the simulator: the folder's files, names and open files, what of them
// survives a power cut, and the games that use them. The platform calls of
// sim_platform.cpp work on the one world that a schedule's run sets up.
#pragma once

#include <ucontext.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "lock/lock_judge.h"
#include "profiles/score_commit.h"
#include "tests/sim/sim.h"

namespace sim {

struct Inode {
    std::string data;     // what a reader sees
    std::string durable;  // what a power cut leaves
    int links = 0;
    std::int64_t modifiedNs = 0;
    std::uint64_t version = 0;  // counts the changes of data
    int creator = -1;           // the game that made it
    int systemLockHolder = -1;  // the game holding the system's lock on it
};

struct OpenFile {
    std::uint64_t inode;
    int game;
    std::int64_t position;
    bool append;
};

struct Ticking {
    int game;
    int periodMs;
    std::int64_t startMs;
    std::int64_t nextMs;
    std::function<void()> tick;
    bool active = true;
};

struct Game {
    Game(int number, const Player& who) : id(number), player(who) {}
    int id;
    Player player;
    ucontext_t context{};
    bool started = false, finished = false, killed = false;
    std::int64_t wakeMs = 0;       // sleeping or stopped until then
    std::int64_t stoppedFromMs = -1;  // a stop under way began then
    std::int64_t lastStopEndMs = -1000000000;
    int calls = 0, beats = 0;
    bool linkedScoreFile = false;
    std::int64_t lockSeenMs = -1;  // when this game last looked at the lock  // between a hard link kept of score.dat and the rename over it
    bool beatFailed = false;
    platform::Failure failure = platform::Failure::Other;
    std::string failureText;
    // What the game did.
    bool lookedUp = false;
    ScoreLookup lookup{};
    PlayerProfile record{};
    SaveOutcome outcome{false, "never saved"};
    // A client's view of names on a cached share: what a look showed, and when.
    std::map<std::string, std::pair<std::int64_t, platform::NameLook>> seen;
};

// The one simulated world of a run.
struct World {
    Schedule schedule;
    LockTimes times;
    std::mt19937_64 random;
    std::int64_t nowMs = 0;
    std::int64_t clockOffsetNs = 0;  // the folder's clock against the steady one
    std::map<std::string, std::uint64_t> names, durableNames;
    std::map<std::uint64_t, Inode> inodes;
    std::map<platform::FileHandle, OpenFile> files;
    std::uint64_t nextInode = 1;
    platform::FileHandle nextHandle = 3;
    std::vector<Game> games;  // the schedule's, then the next game
    std::vector<std::unique_ptr<Ticking>> tickers;
    int current = -1;        // the game whose call runs now
    bool inTick = false;     // the call comes from the current game's heartbeat
    bool poweredOff = false;
    std::vector<std::string> broken;  // rules found broken while the games ran
    std::vector<std::pair<std::string, bool>> outsideRecords;  // in writer's form; true: made where a save may lose it
    ucontext_t scheduler;
    std::FILE* trace = nullptr;  // each call, when a schedule is traced
    std::pair<std::uint64_t, std::uint64_t> scoreChecked{0, 0};  // the score file's inode and version seen whole
};

extern World* world;

// Called first by every platform call that touches the folder: a decision point,
// where the schedule may switch games, stop, slow or kill this one, cut the
// power or fail the call. Dead: the game has been killed; Fail: the call must
// fail. Either way the game's failure is set.
enum class Call { Go, Fail, Dead };
Call enterCallKind(const char* what);
inline bool enterCall(const char* what = __builtin_FUNCTION()) { return enterCallKind(what) == Call::Go; }
inline Call enterReplace(const char* what = __builtin_FUNCTION()) { return enterCallKind(what); }
void setFailure(platform::Failure kind, const char* text);

// True once the current game was killed: its clock then runs out at once, so that
// whatever it waits for ends and its code returns.
bool gameEnded();
// The current game sleeps for ms of the simulated clock.
void sleepFor(int ms);
// The machine game runs on: one for every game on a local disk, one each on a share.
std::string machineOf(int game);
// The current game's heartbeat: ticks while the game is neither stopped nor ended.
std::unique_ptr<platform::Ticker> startTicking(int periodMs, std::function<void()> tick);
// Called before a name is removed: notes a live game's lock being cleared.
void noteRemoval(const char* path);

// The folder's clock, as a file's stamp gives it, in its medium's steps.
std::int64_t folderStampNs();

// Checked at every call: score.dat, where it stands, holds whole records only.
void checkScoreFileWhole();
void note(const std::string& broken);

// Runs the world's games until each has ended.
void runGames();
// After a power cut: names as last forced to disk, files as last synced.
void restorePower();

}  // namespace sim

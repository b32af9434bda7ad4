// The save simulator: an in-memory play folder behind the platform's
// declarations, and a seeded scheduler that runs several games' lookups and
// saves step by step on it. At any platform call a game may be switched out,
// stopped for a while (heartbeat included), slowed, killed, have the call fail,
// or the power may go; afterwards the folder is checked for what no schedule may
// do: lose or set back a record, report a save that was not made, clear the lock
// of a game that still runs, or leave the next game unable to save.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/run_state.h"
#include "lock/lock_judge.h"
#include "platform/platform.h"

namespace sim {

// What the folder is kept on, as the save sees it.
enum class Medium {
    Local,    // hard links, and the system's lock reaches every game (one machine)
    Share,    // hard links, each game on a machine of its own: the system's lock and pids tell nothing
    NoLinks,  // no hard links either, and a rename that fails may remove the old file first (SMB)
    CachedShare,  // a share whose clients show what they saw of a name for longer than the stale age
};
inline constexpr int kMedia = 4;
const char* nameOf(Medium medium);

// Something done to one game at its n-th platform call. Outside: at that moment a
// writer that takes no lock (a teacher's editor, a script) adds a record to
// score.dat by putting a new version in its place. Outage: the share is gone for
// a while: every call fails, from the n-th on, for ms calls.
enum class Event { Stop, Slow, Kill, PowerCut, Fail, BeatFail, Outside, Outage };
struct Fault {
    Event event;
    int game;
    int call;            // the game's n-th platform call (BeatFail: its n-th beat)
    int ms = 0;          // how long a stop or a slow call lasts
    platform::Failure failure = platform::Failure::InputOutput;
};

// One player's run: their name, whether the folder holds them at the start, when
// their game starts and how long they play between the lookup and the save.
struct Player {
    std::string name;
    bool stored;
    int startMs;
    int playMs;
};

struct Schedule {
    std::uint64_t seed = 0;  // of the switches between games, and of the folder's clock
    Medium medium = Medium::Local;
    std::vector<Player> players;
    std::vector<Fault> faults;
    double switchChance = 0.3;  // at each call, the chance that another game runs next
    int callMs = 0;             // how long each call takes (a slow share): saves queue for the lock
};

// A schedule drawn from seed: 2 to 4 games, faults of every kind.
Schedule randomSchedule(std::uint64_t seed);

// The lock times of every simulated game: short, so that waits are few steps.
LockTimes simulatedTimes();

struct Finding {
    bool ok = true;
    std::string what;  // the broken rule and the schedule's story
};

// Runs the schedule from a fresh folder, then the next game, and checks every
// rule; with trace, every call goes there as it is made.
Finding runSchedule(const Schedule& schedule, std::FILE* trace = nullptr);

// How many platform calls the game of player index makes in the schedule as given.
int callsOf(const Schedule& schedule, int player);

}  // namespace sim

// Running a schedule: each game is a coroutine on a stack of its own, switched
// only inside platform calls, so a schedule runs the same way every time; the
// simulated clock moves only when every game waits. After the games, the next
// game plays on what they left, and the folder is checked.
#include <sys/mman.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "profiles/score_record.h"
#include "tests/sim/sim_world.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#define PZ_ANNOTATE_FIBERS 1
#endif

namespace sim {

World* world = nullptr;

namespace {

constexpr std::size_t kStackSize = 4 << 20;
constexpr int kMostGames = 5;  // four of a schedule and the next game

// Stacks are made once and reused by every schedule.
char* stackOf(int game) {
    static char* stacks[kMostGames] = {};
    if (stacks[game] == nullptr) {
        void* memory = mmap(nullptr, kStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        stacks[game] = static_cast<char*>(memory);
    }
    return stacks[game];
}

// ------------------------------------------------------------- switching

#if PZ_ANNOTATE_FIBERS
const void* mainStackBottom = nullptr;
std::size_t mainStackSize = 0;
#endif

void switchToGame(Game& game) {
    int previous = world->current;
    world->current = game.id;
#if PZ_ANNOTATE_FIBERS
    void* fakeStack = nullptr;
    __sanitizer_start_switch_fiber(&fakeStack, stackOf(game.id), kStackSize);
    swapcontext(&world->scheduler, &game.context);
    __sanitizer_finish_switch_fiber(fakeStack, nullptr, nullptr);
#else
    swapcontext(&world->scheduler, &game.context);
#endif
    world->current = previous;
}

void switchToScheduler(Game& game, bool ending) {
#if PZ_ANNOTATE_FIBERS
    void* fakeStack = nullptr;
    __sanitizer_start_switch_fiber(ending ? nullptr : &fakeStack, mainStackBottom, mainStackSize);
    swapcontext(&game.context, &world->scheduler);
    __sanitizer_finish_switch_fiber(fakeStack, &mainStackBottom, &mainStackSize);
#else
    (void)ending;
    swapcontext(&game.context, &world->scheduler);
#endif
}

bool chance(double probability) { return std::uniform_real_distribution<double>(0, 1)(world->random) < probability; }

// ------------------------------------------------------------- the games' ends

void dropGameFiles(int game) {
    for (auto open = world->files.begin(); open != world->files.end();) {
        if (open->second.game != game) {
            ++open;
            continue;
        }
        Inode& inode = world->inodes[open->second.inode];
        if (inode.systemLockHolder == static_cast<int>(open->first)) inode.systemLockHolder = -1;
        open = world->files.erase(open);
    }
    for (auto& ticking : world->tickers) {
        if (ticking->game == game) ticking->active = false;
    }
}

void killGame(Game& game) {
    game.killed = true;
    game.linkedScoreFile = false;
    game.wakeMs = world->nowMs;
    dropGameFiles(game.id);
}

void cutPower() {
    world->poweredOff = true;
    for (Game& game : world->games) {
        if (!game.finished) killGame(game);
    }
}

}  // namespace

// After a power cut: names as last forced to disk, files as last synced.
void restorePower() {
    world->files.clear();
    world->names = world->durableNames;
    std::map<std::uint64_t, Inode> kept;
    for (const auto& [name, id] : world->names) {
        Inode& inode = kept[id];
        inode = world->inodes[id];
        inode.data = inode.durable;
        inode.systemLockHolder = -1;
    }
    for (auto& [id, inode] : kept) {
        inode.links = static_cast<int>(std::count_if(world->names.begin(), world->names.end(),
                                                     [id = id](const auto& name) { return name.second == id; }));
    }
    world->inodes = kept;
    world->poweredOff = false;
}

namespace {

// ------------------------------------------------------------- faults

// The heartbeat's own call: it fails where the schedule fails that beat.
Call beatCall(Game& game) {
    for (const Fault& fault : world->schedule.faults) {
        if (fault.event == Event::BeatFail && fault.game == game.id && fault.call == game.beats) {
            game.beatFailed = true;
            setFailure(platform::Failure::Gone, "the share went away");
            return Call::Fail;
        }
    }
    return Call::Go;
}

// A writer that takes no lock reads score.dat and puts a new version with one
// more record in its place, at once. Where a save has kept score.dat by a link
// and not yet renamed its copy over it, no save can keep that version: the rule
// for it is waived there (a window of two calls).
void writeFromOutside() {
    auto found = world->names.find(kScoreFile);
    if (found == world->names.end()) return;
    std::string record = "Outside" + std::to_string(world->outsideRecords.size()) + " 1 2 3 out out";
    bool waived = std::any_of(world->games.begin(), world->games.end(),
                              [](const Game& game) { return game.linkedScoreFile; });
    world->outsideRecords.emplace_back(record, waived);
    std::uint64_t id = world->nextInode++;
    Inode& inode = world->inodes[id];
    const std::string& old = world->inodes[found->second].data;
    inode.data = inode.durable = old + (old.empty() ? "" : "\n") + record;
    inode.modifiedNs = folderStampNs();
    inode.links = 1;
    --world->inodes[found->second].links;
    found->second = id;
    world->durableNames = world->names;
}

Call applyFault(Game& game, const Fault& fault) {
    switch (fault.event) {
        case Event::Stop:
            game.stoppedFromMs = world->nowMs;
            game.wakeMs = world->nowMs + fault.ms;
            switchToScheduler(game, false);
            game.stoppedFromMs = -1;
            game.lastStopEndMs = world->nowMs;
            break;
        case Event::Slow:
            game.wakeMs = world->nowMs + fault.ms;
            switchToScheduler(game, false);
            break;
        case Event::Kill: killGame(game); break;
        case Event::PowerCut: cutPower(); break;
        case Event::Fail: setFailure(fault.failure, "the call failed"); return Call::Fail;
        case Event::Outside: writeFromOutside(); break;
        case Event::BeatFail: case Event::Outage: break;
    }
    return game.killed ? Call::Dead : Call::Go;
}

}  // namespace

void setFailure(platform::Failure kind, const char* text) {
    Game& game = world->games[world->current];
    game.failure = kind;
    game.failureText = text;
}

Call enterCallKind(const char* what) {
    Game& game = world->games[world->current];
    if (world->trace) {
        std::fprintf(world->trace, "%6lld ms  game %d  call %d  %s%s\n", static_cast<long long>(world->nowMs), game.id,
                     game.calls, world->inTick ? "(beat) " : "", what);
    }
    if (game.killed) {
        setFailure(platform::Failure::Other, "the game was killed");
        return Call::Dead;
    }
    checkScoreFileWhole();
    if (world->inTick) return beatCall(game);
    // A save's window where a writer without the lock can lose a change: a hard link
    // kept, or score.dat opened to be looked at, then the rename; any other call ends it.
    const char* const window[] = {"openForReading", "identifyFile", "closeFile", "replaceFile"};
    if (std::none_of(std::begin(window), std::end(window), [what](const char* call) { return std::strcmp(call, what) == 0; })) {
        game.linkedScoreFile = false;
    }
    int call = game.calls++;
    Call outcome = Call::Go;
    for (const Fault& fault : world->schedule.faults) {
        bool out = fault.event == Event::Outage && call >= fault.call && call < fault.call + fault.ms;
        if (fault.game != game.id || outcome != Call::Go || (fault.call != call && !out)) continue;
        if (out) {
            setFailure(platform::Failure::Gone, "the share went away");
            outcome = Call::Fail;
        } else if (fault.event != Event::BeatFail && fault.event != Event::Outage) {
            outcome = applyFault(game, fault);
        }
    }
    if (outcome == Call::Go && (world->schedule.callMs > 0 || chance(world->schedule.switchChance))) {
        game.wakeMs = world->nowMs + world->schedule.callMs;
        switchToScheduler(game, false);
        if (game.killed) outcome = Call::Dead;
    }
    if (outcome == Call::Dead) setFailure(platform::Failure::Other, "the game was killed");
    return outcome;
}

bool gameEnded() { return world->games[world->current].killed; }

void sleepFor(int ms) {
    Game& game = world->games[world->current];
    if (game.killed || world->inTick) return;
    game.wakeMs = world->nowMs + ms;
    switchToScheduler(game, false);
}

std::string machineOf(int game) {
    return world->schedule.medium == Medium::Local ? "local" : "machine" + std::to_string(game);
}

std::int64_t folderStampNs() {
    std::int64_t step = world->schedule.medium == Medium::Local ? 4000000
                        : world->schedule.medium == Medium::NoLinks ? 2000000000 : 1000000000;
    std::int64_t now = world->nowMs * 1000000 + world->clockOffsetNs;
    return now - now % step;
}

namespace {

class SimTicker : public platform::Ticker {
public:
    explicit SimTicker(Ticking* ticking) : ticking_(ticking) {}
    ~SimTicker() override { ticking_->active = false; }

private:
    Ticking* ticking_;
};

}  // namespace

std::unique_ptr<platform::Ticker> startTicking(int periodMs, std::function<void()> tick) {
    auto ticking = std::make_unique<Ticking>(
        Ticking{world->current, periodMs, world->nowMs, world->nowMs + periodMs, std::move(tick), true});
    auto ticker = std::make_unique<SimTicker>(ticking.get());
    world->tickers.push_back(std::move(ticking));
    return ticker;
}

// A lock cleared while its holder ran is a lock that failed its one job: where
// the system's lock reaches, any live holder; elsewhere, one that beat all along,
// by a game whose own look at it is fresh (a game stalled between its look and
// the removal acts on what it saw: there only the commit's checks can help).
void noteRemoval(const char* path) {
    auto found = world->names.find(path);
    if (std::strcmp(path, kLockFile) != 0 || found == world->names.end()) return;
    int creator = world->inodes[found->second].creator;
    if (creator < 0 || creator == world->current) return;
    const Game& holder = world->games[creator];
    if (holder.killed || holder.finished) return;
    if (world->schedule.medium == Medium::Local) {
        note("game " + std::to_string(world->current) + " cleared the lock of live game " + std::to_string(creator));
        return;
    }
    bool beating = std::any_of(world->tickers.begin(), world->tickers.end(), [&](const auto& ticking) {
        return ticking->active && ticking->game == creator && world->nowMs - ticking->startMs >= world->times.staleMs;
    });
    bool runningAllAlong = holder.stoppedFromMs < 0 && world->nowMs - holder.lastStopEndMs >= world->times.staleMs;
    bool freshLook = world->nowMs - world->games[world->current].lockSeenMs < world->times.staleMs / 2;
    if (world->schedule.medium != Medium::CachedShare && beating && runningAllAlong && freshLook && !holder.beatFailed) {
        note("game " + std::to_string(world->current) + " cleared the beating lock of running game " +
             std::to_string(creator));
    }
}

namespace {

// The game's whole run: the lookup, the play, the save.
void playGame(Game& game) {
    SaveVoice quiet{nullptr, nullptr};
    PlayerProfile profile{};
    game.lookup = lookUpProfile(game.player.name.c_str(), profile, world->times, quiet);
    game.lookedUp = true;
    if (game.lookup.outcome == Lookup::Failed) return;
    game.record = profile;
    game.record.attempts += 1;
    game.record.correctTotal += 10 + game.id;
    game.record.wrongTotal += 15 - game.id;
    copyField(game.record.characterLabel, kCharacterLabelSize, ("c" + std::to_string(game.id)).c_str());
    copyField(game.record.intellectLabel, kIntellectLabelSize, ("i" + std::to_string(game.record.attempts)).c_str());
    platform::pauseMs(game.player.playMs);
    game.outcome = storeProfile(game.record, game.player.name.c_str(), game.lookup, world->times, quiet);
}

void gameEntry() {
    Game& game = world->games[world->current];
#if PZ_ANNOTATE_FIBERS
    __sanitizer_finish_switch_fiber(nullptr, &mainStackBottom, &mainStackSize);
#endif
    playGame(game);
    game.finished = true;
    switchToScheduler(game, true);
}

void startGame(Game& game) {
    getcontext(&game.context);
    game.context.uc_stack.ss_sp = stackOf(game.id);
    game.context.uc_stack.ss_size = kStackSize;
    game.context.uc_link = nullptr;
    makecontext(&game.context, gameEntry, 0);
    game.started = true;
}

// Beats of the games that run: neither stopped nor ended.
void fireTicks() {
    for (std::size_t i = 0; i < world->tickers.size(); ++i) {
        Ticking& ticking = *world->tickers[i];
        Game& game = world->games[ticking.game];
        if (!ticking.active || game.killed || game.stoppedFromMs >= 0 || ticking.nextMs > world->nowMs) continue;
        int previous = world->current;
        world->current = game.id;
        world->inTick = true;
        ticking.tick();
        ++game.beats;
        world->inTick = false;
        world->current = previous;
        ticking.nextMs = world->nowMs + ticking.periodMs;
    }
}

bool runnable(const Game& game) {
    if (game.finished) return false;
    return game.started ? game.wakeMs <= world->nowMs : game.player.startMs <= world->nowMs;
}

// The next time anything is due: a game wakes or starts, or a running game beats.
std::int64_t nextDueMs() {
    std::int64_t next = INT64_MAX;
    for (const Game& game : world->games) {
        if (!game.finished) next = std::min<std::int64_t>(next, game.started ? game.wakeMs : game.player.startMs);
    }
    for (const auto& ticking : world->tickers) {
        const Game& game = world->games[ticking->game];
        if (ticking->active && !game.killed && game.stoppedFromMs < 0) next = std::min(next, ticking->nextMs);
    }
    return next;
}

}  // namespace

void runGames() {
    for (std::vector<int> ready;; ready.clear()) {
        fireTicks();
        for (const Game& game : world->games) {
            if (runnable(game)) ready.push_back(game.id);
        }
        if (ready.empty()) {
            std::int64_t next = nextDueMs();
            if (next == INT64_MAX) return;
            world->nowMs = std::max(world->nowMs + 1, next);
            continue;
        }
        Game& game = world->games[ready[world->random() % ready.size()]];
        if (!game.started) startGame(game);
        switchToGame(game);
    }
}

}  // namespace sim

// Schedules and their rules: a schedule drawn from a seed, a run from a fresh
// folder followed by the next game, and the check of what the folder holds
// against what every game said it did.
#include <algorithm>
#include <cstring>
#include <sstream>

#include "io/byte_reader.h"
#include "profiles/score_record.h"
#include "tests/sim/sim_world.h"

namespace sim {
namespace {

const char* const kPlayerNames[] = {"Anya", "Borya", "Vera", "Gleb"};
const char* const kBystanders[] = {"Zoya", "Yan"};  // stored, never playing
const char* const kNextPlayer = "Next";

struct ScoreRecords {
    bool whole = true;  // every record whole, none cut short
    std::map<std::string, PlayerProfile> byName;
    std::vector<std::string> duplicates;
};

ScoreRecords recordsOf(const std::string& bytes) {
    ScoreRecords records;
    ByteReader in{std::string_view(bytes)};
    PlayerProfile profile{};
    for (RecordRead read; (read = readScoreRecord(in, profile)) != RecordRead::None;) {
        if (read != RecordRead::Whole) {
            records.whole = false;
            continue;
        }
        if (!records.byName.emplace(profile.name, profile).second) records.duplicates.push_back(profile.name);
    }
    return records;
}

const std::string* scoreBytes() {
    auto found = world->names.find(kScoreFile);
    return found == world->names.end() ? nullptr : &world->inodes[found->second].data;
}

std::string writerForm(const PlayerProfile& profile) {
    std::string text;
    {
        ByteWriter out(text);
        writeScoreRecord(out, profile);
        out.flush();
    }
    return text;
}

PlayerProfile storedRecord(const std::string& name, int rank) {
    PlayerProfile profile{};
    copyField(profile.name, kNameSize, name.c_str());
    profile.attempts = 2 + rank;
    profile.correctTotal = 20 + rank;
    profile.wrongTotal = 30;
    copyField(profile.characterLabel, kCharacterLabelSize, "old");
    copyField(profile.intellectLabel, kIntellectLabelSize, "old");
    return profile;
}

// The folder at the start: the stored players and two who never play.
std::map<std::string, PlayerProfile> startingRecords(const Schedule& schedule) {
    std::map<std::string, PlayerProfile> records;
    int rank = 0;
    for (const char* name : kBystanders) records[name] = storedRecord(name, rank++);
    for (const Player& player : schedule.players) {
        if (player.stored) records[player.name] = storedRecord(player.name, rank++);
    }
    return records;
}

void layOutFolder(const Schedule& schedule) {
    std::string score = schedule.seed % 2 == 0 ? "\n" : "";  // as appends leave it, or as a rewrite
    for (const auto& [name, record] : startingRecords(schedule)) {
        score += (score.empty() || score == "\n" ? "" : "\n") + writerForm(record);
    }
    Inode& inode = world->inodes[world->nextInode];
    inode.data = inode.durable = score;
    inode.links = 1;
    world->names[kScoreFile] = world->nextInode++;
    world->durableNames = world->names;
}

std::string storyOf(const World& run) {
    std::ostringstream story;
    story << "seed " << run.schedule.seed << ", " << nameOf(run.schedule.medium) << ", switch chance "
          << run.schedule.switchChance << ", calls of " << run.schedule.callMs << " ms\n";
    for (const Game& game : run.games) {
        story << "  game " << game.id << " " << game.player.name << (game.player.stored ? " (stored)" : " (new)")
              << " from " << game.player.startMs << " ms, plays " << game.player.playMs << " ms, " << game.calls
              << " calls: " << (game.outcome.saved ? "saved" : "not saved: " + game.outcome.why)
              << (game.killed ? " [killed]" : "") << "\n";
    }
    const char* events[] = {"stop", "slow", "kill", "power cut", "fail", "beat fails", "outside writer at", "outage of"};
    for (const Fault& fault : run.schedule.faults) {
        std::string lasting = fault.event == Event::Outage ? " calls" : " ms";
        story << "  " << events[static_cast<int>(fault.event)] << " game " << fault.game << " at call " << fault.call
              << (fault.ms > 0 ? " for " + std::to_string(fault.ms) + lasting : "") << "\n";
    }
    return story.str();
}

bool sameRecord(const PlayerProfile& a, const PlayerProfile& b) { return writerForm(a) == writerForm(b); }

// What each game said against what score.dat holds.
void checkRecords(const ScoreRecords& after, const std::map<std::string, PlayerProfile>& before) {
    std::set<std::string> known;
    for (const Game& game : world->games) {
        const std::string& name = game.player.name;
        known.insert(name);
        auto stored = after.byName.find(name);
        auto old = before.find(name);
        if (game.outcome.saved) {
            if (stored == after.byName.end() || !sameRecord(stored->second, game.record)) {
                note(name + " was told the save was made, but score.dat does not hold the record");
            }
        } else if (stored != after.byName.end() && !sameRecord(stored->second, game.record) &&
                   (old == before.end() || !sameRecord(stored->second, old->second))) {
            note(name + "'s record is neither the old one nor the new one");
        } else if (stored == after.byName.end() && old != before.end()) {
            note(name + "'s stored record was lost");
        }
    }
    for (const auto& [name, record] : before) {
        auto stored = after.byName.find(name);
        if (known.count(name) == 0 && (stored == after.byName.end() || !sameRecord(stored->second, record))) {
            note(name + ", who did not play, lost or changed their record");
        }
    }
    for (const auto& [record, waived] : world->outsideRecords) {
        std::string name = record.substr(0, record.find(' '));
        known.insert(name);
        auto stored = after.byName.find(name);
        bool kept = stored != after.byName.end() && writerForm(stored->second) == record;
        if (!kept && !waived) note("the record " + name + " that an outside writer added was lost");
    }
    for (const auto& [name, record] : after.byName) {
        if (known.count(name) == 0 && before.count(name) == 0) note("a record of nobody appeared: " + name);
    }
    for (const std::string& name : after.duplicates) note("score.dat holds " + name + " twice");
}

void checkFolder(const std::map<std::string, PlayerProfile>& before) {
    const std::string* bytes = scoreBytes();
    if (bytes == nullptr) return note("score.dat is gone after the next game");
    ScoreRecords after = recordsOf(*bytes);
    if (!after.whole) note("score.dat holds a record cut short");
    checkRecords(after, before);
    for (const auto& [name, inode] : world->names) {
        bool emptyTemporary = name == kTempFile && world->inodes[inode].data.empty();
        if (name != kScoreFile && !emptyTemporary) note("the next game left " + name + " behind");
    }
    const Game& next = world->games.back();
    if (!next.outcome.saved) note("the next game could not save: " + next.outcome.why);
    // Where clients cache longer than the stale age, a beating lock can look stopped: only records are safe there.
    bool calm = world->schedule.faults.empty() && world->schedule.medium != Medium::CachedShare;
    for (const Game& game : world->games) {
        if (calm && !game.outcome.saved) note("without any fault, " + game.player.name + " could not save: " + game.outcome.why);
    }
}

}  // namespace

const char* nameOf(Medium medium) {
    switch (medium) {
        case Medium::Local: return "a local disk";
        case Medium::Share: return "a share";
        case Medium::NoLinks: return "a medium without links";
        case Medium::CachedShare: return "a share whose clients cache longer than the stale age";
    }
    return "?";
}

LockTimes simulatedTimes() { return lockTimesFor(3000); }

void note(const std::string& broken) {
    if (world->broken.size() < 4) world->broken.push_back(broken);
}

void checkScoreFileWhole() {
    auto found = world->names.find(kScoreFile);
    if (found == world->names.end()) return;
    std::pair<std::uint64_t, std::uint64_t> now{found->second, world->inodes[found->second].version};
    if (now == world->scoreChecked) return;  // seen whole as it is
    world->scoreChecked = now;
    ByteReader in{std::string_view(world->inodes[found->second].data)};
    PlayerProfile profile{};
    for (RecordRead read; (read = readScoreRecord(in, profile)) != RecordRead::None;) {
        if (read != RecordRead::Whole) return note("score.dat held a record cut short while games saved");
    }
}

Finding runSchedule(const Schedule& schedule, std::FILE* trace) {
    World run;
    world = &run;
    run.trace = trace;
    run.schedule = schedule;
    run.times = simulatedTimes();
    run.random.seed(schedule.seed);
    run.clockOffsetNs = static_cast<std::int64_t>(schedule.seed % 977) * 1000000007;
    layOutFolder(schedule);
    std::map<std::string, PlayerProfile> before = startingRecords(schedule);
    for (const Player& player : schedule.players) run.games.emplace_back(static_cast<int>(run.games.size()), player);
    runGames();
    if (run.poweredOff) restorePower();
    run.schedule.faults.clear();
    run.schedule.switchChance = 0;
    run.schedule.callMs = 0;
    run.games.emplace_back(static_cast<int>(run.games.size()), Player{kNextPlayer, false, 0, 0});
    run.games.back().player.startMs = static_cast<int>(run.nowMs);
    runGames();
    run.schedule = schedule;  // for the story
    checkFolder(before);
    Finding finding;
    finding.ok = run.broken.empty();
    for (const std::string& broken : run.broken) finding.what += broken + "\n";
    if (!finding.ok) finding.what += storyOf(run);
    world = nullptr;
    return finding;
}

int callsOf(const Schedule& schedule, int player) {
    World run;
    world = &run;
    run.schedule = schedule;
    run.times = simulatedTimes();
    run.random.seed(schedule.seed);
    layOutFolder(schedule);
    for (const Player& one : schedule.players) run.games.emplace_back(static_cast<int>(run.games.size()), one);
    runGames();
    int calls = run.games[player].calls;
    world = nullptr;
    return calls;
}

Schedule randomSchedule(std::uint64_t seed) {
    std::mt19937_64 draw(seed);
    auto below = [&draw](int bound) { return static_cast<int>(draw() % static_cast<std::uint64_t>(bound)); };
    Schedule schedule;
    schedule.seed = seed;
    schedule.medium = static_cast<Medium>(below(kMedia));
    schedule.switchChance = 0.1 * (1 + below(5));
    const int callTimes[] = {0, 5, 30, 90};  // at 90 ms, a save outlasts the stale age
    schedule.callMs = below(4) == 0 ? callTimes[below(4)] : 0;
    int games = 2 + below(3);
    for (int i = 0; i < games; ++i) schedule.players.push_back(Player{kPlayerNames[i], below(2) == 0, below(40), below(40)});
    LockTimes times = simulatedTimes();
    int faults = below(4) == 0 ? 0 : 1 + below(3);
    for (int i = 0; i < faults; ++i) {
        Fault fault{static_cast<Event>(below(8)), below(games), below(70)};
        if (fault.event == Event::Outage) fault.ms = 1 + below(8);
        const int stops[] = {below(300), times.staleMs + below(1000), times.waitMs + below(3000), 20000};
        if (fault.event == Event::Stop) fault.ms = stops[below(4)];
        if (fault.event == Event::Slow) fault.ms = below(2) == 0 ? below(500) : times.staleMs + below(2000);
        if (fault.event == Event::BeatFail) fault.call = below(8);
        if (fault.event == Event::PowerCut && below(2) == 0) fault.event = Event::Kill;  // power cuts are rarer
        const platform::Failure failures[] = {platform::Failure::Full, platform::Failure::InputOutput,
                                              platform::Failure::Gone};
        fault.failure = failures[below(3)];
        schedule.faults.push_back(fault);
    }
    return schedule;
}

}  // namespace sim

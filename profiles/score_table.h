// The players of a score file ranked for the results table: the best average of
// right answers per game first, then more games, then the name's bytes. Only the
// best few are kept while the file is read, so a long file costs no more memory
// than a short one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/run_state.h"
#include "io/byte_reader.h"

struct ScoreTable {
    std::vector<PlayerProfile> best;  // best first
    std::int64_t players = 0;         // whole records read
    std::int64_t unreadable = 0;      // records the game cannot read: damaged or cut short
};

// True when a stands above b in the table. A record without a game (never
// written by the game) has no average and stands below every one that has.
bool ranksAbove(const PlayerProfile& a, const PlayerProfile& b);

// Reads every record of in and keeps the best limit of them, all when limit is
// 0. A read failure shows in in.failed().
ScoreTable rankPlayers(ByteReader& in, std::size_t limit);

// Ranking the score file's records. The best limit records are kept in a heap
// whose top is the lowest of them, so each further record costs one comparison
// unless it climbs in.
#include "profiles/score_table.h"

#include <algorithm>
#include <cstring>

#include "profiles/score_record.h"

bool ranksAbove(const PlayerProfile& a, const PlayerProfile& b) {
    bool aPlayed = a.attempts > 0;
    bool bPlayed = b.attempts > 0;
    if (aPlayed != bPlayed) return aPlayed;
    if (aPlayed) {  // averages compared exactly: a.right / a.games against b.right / b.games
        std::int64_t aShare = std::int64_t{a.correctTotal} * b.attempts;
        std::int64_t bShare = std::int64_t{b.correctTotal} * a.attempts;
        if (aShare != bShare) return aShare > bShare;
    }
    if (a.attempts != b.attempts) return a.attempts > b.attempts;
    return std::strcmp(a.name, b.name) < 0;  // compares the bytes as unsigned
}

namespace {

void keepRecord(std::vector<PlayerProfile>& best, const PlayerProfile& record, std::size_t limit) {
    if (limit == 0) {
        best.push_back(record);
        return;
    }
    if (best.size() == limit) {
        if (!ranksAbove(record, best.front())) return;
        std::pop_heap(best.begin(), best.end(), ranksAbove);
        best.pop_back();
    }
    best.push_back(record);
    std::push_heap(best.begin(), best.end(), ranksAbove);
}

}  // namespace

ScoreTable rankPlayers(ByteReader& in, std::size_t limit) {
    ScoreTable table;
    table.best.reserve(std::min<std::size_t>(limit, 1024));
    PlayerProfile record;
    for (;;) {
        RecordRead read = readNextRecord(in, record);
        if (read == RecordRead::None) break;
        if (read != RecordRead::Whole) {
            ++table.unreadable;
            if (read == RecordRead::CutShort) break;
            continue;
        }
        ++table.players;
        keepRecord(table.best, record, limit);
    }
    std::sort(table.best.begin(), table.best.end(), ranksAbove);
    return table;
}

// Question selection. The generator is reseeded from the clock at every pick, so
// picks made within the same second walk one sequence and skip what was asked.
#include "questions/question_pick.h"

#include <cstdlib>
#include <ctime>

#include "core/run_state.h"
#include "questions/question_db.h"

namespace {

// After this many draws that all hit asked records, the pick walks upward from
// the last draw instead, so that a pick ends whatever the generator does.
constexpr int kMaxDraws = 100000;

bool isAsked(const std::int32_t* asked, int slots, std::int32_t record) {
    for (int slot = 0; slot < slots; ++slot) {
        if (asked[slot] == record) return true;
    }
    return false;
}

// Stores record in the first free slot; the lists never receive more than they hold.
void noteAsked(std::int32_t* asked, int slots, std::int32_t record) {
    for (int slot = 0; slot < slots; ++slot) {
        if (asked[slot] == 0) {
            asked[slot] = record;
            return;
        }
    }
}

// Draws records first + randomBelow(range) until one is not in asked. The caller
// guarantees that range holds more records than asked has slots.
std::int32_t drawUnasked(const std::int32_t* asked, int slots, std::int32_t first, std::int32_t range) {
    randomize();
    std::int32_t candidate = first + randomBelow(range);
    for (int draws = 1; isAsked(asked, slots, candidate); ++draws) {
        if (draws < kMaxDraws) {
            candidate = first + randomBelow(range);
        } else {
            candidate = candidate - first + 1 < range ? candidate + 1 : first;
        }
    }
    return candidate;
}

// One draw from 0 to 2^31 - 1 on every system. glibc's rand() gives exactly that
// (RAND_MAX is 2^31 - 1) and is taken as it is; where it gives fewer bits
// (msvcrt's RAND_MAX is 32767) draws are joined until 31 bits are covered.
std::int32_t wideDraw() {
    constexpr std::uint64_t kDrawSpan = std::uint64_t{1} << 31;
    constexpr std::uint64_t kRandSpan = std::uint64_t{RAND_MAX} + 1;
    std::uint64_t value = 0;
    for (std::uint64_t span = 1; span < kDrawSpan; span *= kRandSpan) {
        value = value * kRandSpan + static_cast<std::uint64_t>(std::rand());
    }
    // RAND_MAX + 1 is a power of two on both, so the low 31 bits are evenly spread.
    return static_cast<std::int32_t>(value % kDrawSpan);
}

}  // namespace

void randomize() { std::srand(static_cast<unsigned>(std::time(nullptr))); }

std::int32_t randomBelow(std::int32_t n) {
    if (n == 0) return 0;
    std::int32_t draw = wideDraw();  // 0 to 2^31 - 1
    return draw % n;                 // truncating: never negative, as draw is not
}

bool pickIntellectQuestion() {
    std::int32_t record = drawUnasked(runState.askedIntellect, kIntellectPerRun, kCharacterRecords + 1,
                                      runState.intellectQuestionCount);
    noteAsked(runState.askedIntellect, kIntellectPerRun, record);
    return loadQuestionRecord(record, TestKind::Intellect);
}

bool pickCharacterQuestion() {
    std::int32_t record = drawUnasked(runState.askedCharacter, kCharacterPerRun, 1, kCharacterRecords);
    noteAsked(runState.askedCharacter, kCharacterPerRun, record);
    return loadQuestionRecord(record, TestKind::Character);
}

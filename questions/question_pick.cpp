// Question selection. The generator is reseeded from the clock at every pick, so
// picks made within the same second walk one sequence and skip what was asked.
#include "questions/question_pick.h"

#include <cstdlib>
#include <ctime>

#include "app/run_state.h"
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

}  // namespace

void randomize() { std::srand(static_cast<unsigned>(std::time(nullptr))); }

std::int32_t randomBelow(std::int32_t n) {
    if (n == 0) return 0;
    std::int32_t draw = std::rand();  // 0 to RAND_MAX (2^31 - 1 here)
    return draw % n;                  // truncating: never negative, as draw is not
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

// Database bytes -> countRecordPasses and readQuestionRecord. Checks the count
// against passes of six line reads made with readDbLine, and that loading a record
// directly (skipping lines) leaves the state that loading records 1 to n in turn
// leaves, the same twice over, with every text NUL-terminated within its buffer.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "questions/question_db.h"

namespace {

// The count rule as the start-up scan states it: passes of six line reads, the
// pass that meets the end of the file included.
std::int32_t passesByLineReads(std::string_view bytes) {
    ByteReader in(bytes);
    DbLineReader reader{&in, false};
    char line[kLineSize];
    std::int32_t passes = 0;
    do {
        ++passes;
        for (int i = 0; i < 6; ++i) readDbLine(reader, line);
    } while (!reader.atEnd);
    return passes;
}

// What a loaded record left: the five texts and the key fields of both tests.
std::string loadedState() {
    const CurrentQuestion& question = runState.currentQuestion;
    std::string state;
    for (const char* text : {question.questionText, question.answers[0], question.answers[1],
                             question.answers[2], question.answers[3]}) {
        require(std::memchr(text, '\0', kLineSize) != nullptr, "a loaded text ends within its buffer");
        state.append(text).push_back('\n');
    }
    state.append(reinterpret_cast<const char*>(&runState.correctAnswer), sizeof runState.correctAnswer);
    state.append(reinterpret_cast<const char*>(runState.answerCategory), sizeof runState.answerCategory);
    return state;
}

void checkRecord(std::string_view bytes, std::int32_t record, TestKind kind) {
    ByteReader direct(bytes);
    bool loaded = readQuestionRecord(direct, record, kind);
    std::string once = loadedState();
    ByteReader again(bytes);
    require(readQuestionRecord(again, record, kind) == loaded, "a second load of a record gives the same answer");
    require(!loaded || loadedState() == once, "a second load of a record leaves the same state");
    ByteReader inTurn(bytes);
    bool all = true;
    for (std::int32_t n = 1; n <= record && all; ++n) all = readQuestionRecord(inTurn, 1, kind);
    require(all == loaded, "a record loads exactly when the records before it and it load in turn");
    require(!loaded || loadedState() == once, "a direct load leaves what loading records in turn leaves");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    ByteReader in(bytes);
    std::int32_t passes = countRecordPasses(in);
    require(passes == passesByLineReads(bytes), "the count equals the passes of six line reads");
    TestKind kind = size > 0 && (data[0] & 1) != 0 ? TestKind::Character : TestKind::Intellect;
    for (std::int32_t record : {1, 2, 3, passes - 1, passes}) {
        if (record >= 1) checkRecord(bytes, record, kind);
    }
    return 0;
}

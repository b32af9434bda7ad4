// The score file's fast paths against the plain record-by-record way: the same
// generated score files, looked up and saved both ways, must give the same
// profile, the same outcome and the same bytes on disk. The files mix lines in
// the writer's form with every other form a file may hold: long and damaged
// records, records cut short by the end, tokens longer than the reader's window,
// names that are prefixes of others.
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "profiles/profile_store.h"
#include "profiles/speed_paths.h"
#include "test_support.h"

namespace {

const char* const kNames[] = {"bob", "bo", "bobby", "ann", "nobody"};

// One score line: usually in the writer's form, often a byte away from it.
std::string makeLine(std::mt19937& random) {
    static const std::string kTokens[] = {"7", "0", "12", "-3", "+5", "07", "00", "-0", "0x", "\xe3\xe5\xed",
                                          "1234567890", "99999999999", "b\tc", "d\re", std::string("f\0g", 3)};
    std::string line = kNames[random() % 5];
    if (random() % 3 == 0) line = "p" + std::to_string(random() % 100000);
    if (random() % 40 == 0) line = std::string(20 + random() % 10, 'n');        // near or past the name's room
    if (random() % 200 == 0) return std::string(5000 + random() % 3000, 'x');    // longer than the window
    std::size_t fields = random() % 20 == 0 ? 1 + random() % 7 : 6;
    for (std::size_t field = 1; field < fields; ++field) {
        line += random() % 25 == 0 ? (random() % 2 ? "\n" : "  \t") : " ";
        std::size_t pick = random() % 40;
        line += pick < std::size(kTokens) ? kTokens[pick] : std::to_string(random() % 100);
    }
    if (random() % 100 == 0) line += std::string(5000, ' ');  // whitespace past the window
    return line;
}

// A line in the writer's form.
std::string makePlainLine(std::mt19937& random) {
    return std::string(kNames[random() % 5]) + " " + std::to_string(random() % 50) + " " +
           std::to_string(random() % 999) + " 3 a b";
}

// A score file; a third of them hold lines in the writer's form only, as the game leaves it.
std::string makeScoreFile(std::mt19937& random, std::size_t lines) {
    bool plain = random() % 3 == 0;
    std::string text = !plain && random() % 4 == 0 ? "\n" : "";
    for (std::size_t n = 0; n < lines; ++n) text += (n > 0 ? "\n" : "") + (plain ? makePlainLine(random) : makeLine(random));
    if (random() % 4 == 0) text += random() % 2 ? "\n" : " \t";
    return text;
}

// A long file in the writer's form, with the lines of odd forms put around its middle.
std::string makeLongScoreFile(std::mt19937& random) {
    std::vector<std::string> lines(90000);
    for (std::size_t n = 0; n < lines.size(); ++n) lines[n] = "p" + std::to_string(n) + " 1 2 3 a b";
    for (int change = 0; change < static_cast<int>(random() % 5); ++change) {
        std::size_t at = lines.size() / 2 + random() % 7 - 3;
        if (random() % 3 == 0) at = random() % lines.size();
        lines[at] = makeLine(random);
    }
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    if (random() % 2) text.pop_back();
    return text;
}

std::string contentOf(const char* path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// What a lookup and a save of name made of a score file.
struct Outcome {
    Lookup lookup;
    PlayerProfile found;
    bool saved;
    std::string after;
};

Outcome lookUpAndSave(const std::string& score, const char* name, bool fast) {
    scoreSpeedPaths = fast ? ScoreSpeedPaths{} : ScoreSpeedPaths{false, false, false, false};
    std::ofstream(kScoreFile, std::ios::binary | std::ios::trunc) << score;
    std::memset(&runState, 0, sizeof runState);
    ScoreLookup lookup = loadProfile(name);
    Outcome outcome{lookup.outcome, runState.playerProfile, false, ""};
    runState.playerProfile.attempts += 1;  // as a run does: one attempt more, so a new player's is 1
    runState.playerProfile.correctTotal += 25;
    outcome.saved = lookup.outcome != Lookup::Failed && saveProfile(name, lookup);
    outcome.after = contentOf(kScoreFile);
    scoreSpeedPaths = ScoreSpeedPaths{};
    return outcome;
}

void expectSameOutcome(const std::string& score, const char* name) {
    Outcome fast = lookUpAndSave(score, name, true), plain = lookUpAndSave(score, name, false);
    SCOPED_TRACE(::testing::Message() << "name " << name << ", file of " << score.size() << " bytes: "
                                      << ::testing::PrintToString(score.substr(0, 300)));
    ASSERT_EQ(fast.lookup, plain.lookup);
    EXPECT_EQ(std::string(fast.found.name), plain.found.name);
    EXPECT_EQ(fast.found.attempts, plain.found.attempts);
    EXPECT_EQ(fast.found.correctTotal, plain.found.correctTotal);
    EXPECT_EQ(fast.found.wrongTotal, plain.found.wrongTotal);
    EXPECT_EQ(std::string(fast.found.characterLabel), plain.found.characterLabel);
    EXPECT_EQ(std::string(fast.found.intellectLabel), plain.found.intellectLabel);
    EXPECT_EQ(fast.saved, plain.saved);
    ASSERT_EQ(fast.after, plain.after) << "the rewritten score file differs";
}

class ScorePaths : public RunStateTest {
protected:
    void SetUp() override {
        RunStateTest::SetUp();
        ASSERT_TRUE(scratch.enter());
        std::ofstream(kDatabaseFile, std::ios::binary) << "";
    }
    ScratchFolder scratch;
};

}  // namespace

TEST_F(ScorePaths, ShortFilesOfEveryFormGiveTheSameBytesBothWays) {
    std::mt19937 random(2004);
    for (int round = 0; round < 150; ++round) {
        std::string score = makeScoreFile(random, 1 + random() % 30);
        expectSameOutcome(score, kNames[random() % std::size(kNames)]);
        if (HasFatalFailure()) return;
    }
}

TEST_F(ScorePaths, LongFilesJudgedByTwoThreadsGiveTheSameBytesBothWays) {
    std::mt19937 random(1251);
    for (int round = 0; round < 10; ++round) {
        std::string score = makeLongScoreFile(random);
        expectSameOutcome(score, round % 2 ? "bob" : ("p" + std::to_string(random() % 90000)).c_str());
        if (HasFatalFailure()) return;
    }
}

// Score records: the reader's view of whitespace, what it refuses, and the form
// the writer produces.
#include <fstream>
#include <string>

#include "profiles/profile_store.h"
#include "profiles/score_record.h"
#include "test_support.h"

namespace {

RecordRead readOne(const std::string& text, PlayerProfile& profile) {
    ByteReader in(text);
    return readScoreRecord(in, profile);
}

}  // namespace

TEST(ScoreRecord, AnyWhitespaceSeparatesFields) {
    PlayerProfile profile{};
    ASSERT_EQ(readOne("\n\tИгорь \r\n +3\v0007\f-2\n\nлабель  слово\n", profile), RecordRead::Whole);
    EXPECT_STREQ(profile.name, "Игорь");
    EXPECT_EQ(profile.attempts, 3);
    EXPECT_EQ(profile.correctTotal, 7);
    EXPECT_EQ(profile.wrongTotal, -2);
    EXPECT_STREQ(profile.characterLabel, "лабель");
    EXPECT_STREQ(profile.intellectLabel, "слово");
}

TEST(ScoreRecord, FieldsAtTheirLimitsAreWhole) {
    PlayerProfile profile{};
    std::string text = std::string(23, 'n') + " 2147483647 -2147483648 0 " + std::string(20, 'c') + " " +
                       std::string(26, 'i');
    ASSERT_EQ(readOne(text, profile), RecordRead::Whole);
    EXPECT_EQ(std::string(profile.name), std::string(23, 'n'));
    EXPECT_EQ(profile.attempts, 2147483647);
    EXPECT_EQ(profile.correctTotal, -2147483647 - 1);
    EXPECT_EQ(std::string(profile.intellectLabel), std::string(26, 'i'));
}

TEST(ScoreRecord, RecordsThatDoNotFitAreDamagedNotCut) {
    PlayerProfile profile{};
    EXPECT_EQ(readOne(std::string(24, 'n') + " 1 2 3 a b", profile), RecordRead::Damaged);
    EXPECT_EQ(std::string(profile.name), std::string(23, 'n'));  // never past the field
    EXPECT_EQ(readOne("n 2147483648 2 3 a b", profile), RecordRead::Damaged);
    EXPECT_EQ(readOne("n 1 2x 3 a b", profile), RecordRead::Damaged);
    EXPECT_EQ(readOne("n 1 - 3 a b", profile), RecordRead::Damaged);
    EXPECT_EQ(readOne("n 1 00000000000000000000001 3 a b", profile), RecordRead::Damaged);
    EXPECT_EQ(readOne("n 1 2 3 " + std::string(21, 'c') + " b", profile), RecordRead::Damaged);
    EXPECT_EQ(readOne("n 1 2 3 a " + std::string(27, 'i'), profile), RecordRead::Damaged);
    EXPECT_EQ(readOne("n 1 2 3 a", profile), RecordRead::CutShort);
    EXPECT_EQ(readOne(" \n\t ", profile), RecordRead::None);
}

TEST(ScoreRecord, WriterUsesSingleBlanksAndPlainDecimal) {
    PlayerProfile profile{"Гость", -5, 0, 2147483647, "нормальный", "гений"};
    std::string text;
    ByteWriter out(text);
    writeScoreRecord(out, profile);
    out.flush();
    EXPECT_EQ(text, "Гость -5 0 2147483647 нормальный гений");
}

namespace {

struct LookupCase {
    std::string_view bytes;
    bool found;
    std::int32_t attempts;  // of the record found
};

}  // namespace

TEST(ScoreRecord, LookupTakesTheFirstWholeExactMatch) {
    using namespace std::literals;
    const LookupCase cases[] = {
        {"Bob 9 9 9 x y\nbob 1 1 1 a b\nbobby 2 2 2 a b\nbob 1 z 1 a b\nbob 3 4 5 c d\n"sv, true, 1},
        {"bob 1 z 1 a b\nbob 3 4 5 c d\n"sv, true, 3},  // damaged first, trailing line feed
        {"bobby 2 2 2 a b\nBob 9 9 9 x y"sv, false, 0},
        {"bob 1 2"sv, false, 0},
        {"\nann 1 2 3 a b\nbob 7 1 1 a b\ncid 1 1 1 a b"sv, true, 7},
        {"bob +7 01 1 a\tb\nann 1 2 3 a b"sv, true, 7},
        {"ann 1 2\n3 a b\nbob 7 1 1 a b"sv, true, 7},
        {"an\0n 1 2 3 a b\nbob 7 1 1 a b\nbob 8 1 1 a b"sv, true, 7},
    };
    for (const LookupCase& c : cases) {
        std::string bytes(c.bytes);
        ByteReader in(bytes);
        PlayerProfile profile{};
        ScoreLookup lookup{};
        SCOPED_TRACE(bytes);
        ASSERT_EQ(findProfile(in, "bob", profile, lookup), c.found);
        if (c.found) {
            EXPECT_EQ(profile.attempts, c.attempts);
        }
    }
}

namespace {

std::string readWhole(const char* path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

}  // namespace

class LongScoreFile : public RunStateTest {};

// A new player's record is appended to a long file, unless another game stored
// the name meanwhile, in the half the helper judges: then it replaces that one.
TEST_F(LongScoreFile, NewPlayerIsAppendedOnceWhateverTheHelperJudges) {
    ScratchFolder scratch;
    ASSERT_TRUE(scratch.enter());
    { std::ofstream(kDatabaseFile, std::ios::binary) << ""; }
    std::string lines;
    for (int n = 0; n < 100000; ++n) lines += (n > 0 ? "\n" : "") + ("p" + std::to_string(n)) + " 1 2 3 a b";
    for (bool storedMeanwhile : {false, true}) {
        { std::ofstream(kScoreFile, std::ios::binary) << lines; }
        ScoreLookup lookup = loadProfile("bob");
        ASSERT_EQ(lookup.outcome, Lookup::Fresh);
        std::string before = lines;
        if (storedMeanwhile) {
            before.replace(before.find("\np70000 "), 1, "\nbob 7 1 1 a b\n");
            std::ofstream(kScoreFile, std::ios::binary) << before;
        }
        ASSERT_TRUE(saveProfile("bob", lookup));
        std::string after = readWhole(kScoreFile);
        SCOPED_TRACE(storedMeanwhile);
        std::size_t first = after.find("bob ");
        EXPECT_EQ(after.find("bob ", first + 1), std::string::npos);  // stored once
        if (storedMeanwhile) {
            EXPECT_EQ(first, 0u);  // the rewrite puts it first, in place of the other game's
            EXPECT_NE(after.find("p69999 1 2 3 a b\np70000 "), std::string::npos);
        } else {
            EXPECT_EQ(after.compare(0, before.size(), before), 0);
            EXPECT_EQ(first, before.size() + 1);
        }
    }
}

TEST(ScoreRecord, StorableNamesAreOneShortWord) {
    EXPECT_TRUE(isStorableName("Гость"));
    EXPECT_TRUE(isStorableName(std::string(23, 'x').c_str()));
    EXPECT_FALSE(isStorableName(""));
    EXPECT_FALSE(isStorableName("two words"));
    EXPECT_FALSE(isStorableName("tab\tname"));
    EXPECT_FALSE(isStorableName(std::string(24, 'x').c_str()));
}

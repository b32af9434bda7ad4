// Score records: the reader's view of whitespace, what it refuses, and the form
// the writer produces.
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
    bool blockCopy;         // the rewrite may copy the file around the record
    std::int64_t recordStart, recordEnd;
};

}  // namespace

TEST(ScoreRecord, LookupTakesTheFirstWholeExactMatchAndJudgesTheFile) {
    using namespace std::literals;
    const LookupCase cases[] = {
        {"Bob 9 9 9 x y\nbob 1 1 1 a b\nbobby 2 2 2 a b\nbob 1 z 1 a b\nbob 3 4 5 c d\n"sv, true, 1, false, 14, 27},
        {"bob 1 z 1 a b\nbob 3 4 5 c d\n"sv, true, 3, false, 14, 27},  // damaged first, trailing line feed
        {"bobby 2 2 2 a b\nBob 9 9 9 x y"sv, false, 0, false, 0, 0},
        {"bob 1 2"sv, false, 0, false, 0, 0},
        // Plain files: one record a line in the writer's form, single line feeds.
        {"\nann 1 2 3 a b\nbob 7 1 1 a b\ncid 1 1 1 a b"sv, true, 7, true, 15, 28},
        {"bob 7 1 1 a b"sv, true, 7, true, 0, 13},
        {"bob +7 01 1 a\tb\nann 1 2 3 a b"sv, true, 7, true, 0, 15},  // the player's own form does not matter
        // Anything the writer would write otherwise rules the block copy out.
        {"ann 1 2 3 a b\n\nbob 7 1 1 a b"sv, true, 7, false, 15, 28},
        {"ann 01 2 3 a b\nbob 7 1 1 a b"sv, true, 7, false, 15, 28},
        {"ann 1 2 3 a\tb\nbob 7 1 1 a b"sv, true, 7, false, 14, 27},
        {"bob 7 1 1 a b\nann 1 2\n3 a b"sv, true, 7, false, 0, 13},
        {"bob 7 1 1 a b\nann 1 2 3 a b\nbob 8 1 1 a b"sv, true, 7, false, 0, 13},
        {"bob 7 1 1 a b\nann 1 2 3 a b "sv, true, 7, false, 0, 13},
        {"bob 7 1 1 a b\nan\0n 1 2 3 a b"sv, true, 7, false, 0, 13},
    };
    for (const LookupCase& c : cases) {
        std::string bytes(c.bytes);
        ByteReader in(bytes);
        PlayerProfile profile{};
        ScoreLookup lookup{};
        SCOPED_TRACE(bytes);
        ASSERT_EQ(findProfile(in, "bob", profile, lookup), c.found);
        if (!c.found) continue;
        EXPECT_EQ(profile.attempts, c.attempts);
        EXPECT_EQ(lookup.blockCopy, c.blockCopy);
        EXPECT_EQ(lookup.recordStart, c.recordStart);
        EXPECT_EQ(lookup.recordEnd, c.recordEnd);
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

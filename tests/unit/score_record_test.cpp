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

TEST(ScoreRecord, LookupTakesTheFirstWholeExactMatch) {
    std::string inBytes = "Bob 9 9 9 x y\nbob 1 1 1 a b\nbobby 2 2 2 a b\n"
                          "bob 1 z 1 a b\nbob 3 4 5 c d\nbob 6 6 6 e f\n";
    ByteReader in(inBytes);
    PlayerProfile profile{};
    ASSERT_TRUE(findProfile(in, "bob", profile));
    EXPECT_EQ(profile.attempts, 1);
    std::string damagedFirstBytes("bob 1 z 1 a b\nbob 3 4 5 c d\n");
    ByteReader damagedFirst(damagedFirstBytes);
    ASSERT_TRUE(findProfile(damagedFirst, "bob", profile));
    EXPECT_EQ(profile.attempts, 3);
    std::string noneBytes("bobby 2 2 2 a b\nBob 9 9 9 x y");
    ByteReader none(noneBytes);
    EXPECT_FALSE(findProfile(none, "bob", profile));
    std::string cutBytes("bob 1 2");
    ByteReader cut(cutBytes);
    EXPECT_FALSE(findProfile(cut, "bob", profile));
}

TEST(ScoreRecord, StorableNamesAreOneShortWord) {
    EXPECT_TRUE(isStorableName("Гость"));
    EXPECT_TRUE(isStorableName(std::string(23, 'x').c_str()));
    EXPECT_FALSE(isStorableName(""));
    EXPECT_FALSE(isStorableName("two words"));
    EXPECT_FALSE(isStorableName("tab\tname"));
    EXPECT_FALSE(isStorableName(std::string(24, 'x').c_str()));
}

// The compile-time literals and the run-time converter agree with the code page.
#include <string>

#include "test_support.h"

TEST(Cp1251, LiteralsAreWindows1251Bytes) {
    EXPECT_EQ(std::string("Вопрос "_cp), "\xC2\xEE\xEF\xF0\xEE\xF1 ");
    EXPECT_EQ(std::string("ёЁ№«»—"_cp), "\xB8\xA8\xB9\xAB\xBB\x97");
    EXPECT_EQ(std::string("\t\"Enter\"\n"_cp), "\t\"Enter\"\n");
}

TEST(Cp1251, EveryDefinedByteRoundTrips) {
    for (int byte = 0; byte < 256; ++byte) {
        long point = cp1251::decodeByte(static_cast<unsigned char>(byte));
        if (byte == 0x98) {
            EXPECT_EQ(point, -1);
            continue;
        }
        ASSERT_GE(point, 0) << byte;
        EXPECT_EQ(cp1251::encodePoint(static_cast<unsigned long>(point)), byte);
    }
}

TEST(Cp1251, RefusesMalformedOrMissingCharacters) {
    char out[16];
    std::size_t badAt = 99;
    EXPECT_EQ(cp1251::fromUtf8("ab\xE6\x97\xA5", 5, out, badAt), -1);  // a CJK character
    EXPECT_EQ(badAt, 2u);
    EXPECT_EQ(cp1251::fromUtf8("\xC0\x80", 2, out, badAt), -1);  // overlong zero
    EXPECT_EQ(cp1251::fromUtf8("\xD0", 1, out, badAt), -1);      // cut short
    EXPECT_EQ(cp1251::fromUtf8("\xE2\x82\xAC", 3, out, badAt), 1);  // euro sign
    EXPECT_EQ(out[0], '\x88');
}

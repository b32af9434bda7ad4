// Score records: the reader's view of whitespace, what it refuses, and the form
// the writer produces.
#include <fstream>
#include <random>
#include <string>

#include "profiles/plain_line.h"
#include "profiles/plain_run_ahead.h"
#include "profiles/profile_store.h"
#include "profiles/score_record.h"
#include "test_support.h"

namespace {

RecordRead readOne(const std::string& text, PlayerProfile& profile) {
    ByteReader in(text);
    return readScoreRecord(in, profile);
}

// The writer's form judged token by token, apart from the fast reader's bits.
bool isWritersLine(const std::string& line, const std::string& name) {
    std::vector<std::string> tokens(1);
    for (char byte : line) {
        if (byte == ' ') {
            tokens.emplace_back();
        } else if (static_cast<unsigned char>(byte) < 0x21) {
            return false;
        } else {
            tokens.back() += byte;
        }
    }
    if (tokens.size() != kScoreFields || line.size() > 128 || tokens[0] == name) return false;
    for (const std::string& token : tokens) {
        bool otherwise = token.empty() || token[0] == '+' || (token[0] == '0' && token.size() > 1) ||
                         token.compare(0, 2, "-0") == 0;
        if (otherwise && &token != &tokens[0]) return false;
        if (token.empty()) return false;
    }
    return true;
}

// A score line, often in the writer's form, often a byte away from it.
std::string makeLine(std::mt19937& random, const std::string& name) {
    using namespace std::literals;
    static const std::string_view kTokens[] = {"7", "0", "12", "-3", "+5", "07", "00", "-0", "-05", "0x",
                                               "\xe3\xe5\xed\xe8\xe9", "a", "1234567890", "b\tc", "d\re", "f\0g"sv};
    std::string line = random() % 8 == 0 ? name : "player" + std::to_string(random() % 1000);
    if (random() % 16 == 0) line = std::string(60 + random() % 60, 'n');  // lines near the longest
    if (random() % 16 == 0) return "q 1 2 3 4 " + std::to_string(random() % 10);  // the shortest
    for (std::size_t field = 1; field < kScoreFields + (random() % 12 == 0); ++field) {
        line += random() % 30 == 0 ? "  " : " ";
        std::size_t pick = random() % 40;
        line += pick < std::size(kTokens) ? std::string(kTokens[pick]) : std::to_string(random() % 100);
    }
    if (random() % 30 == 0) line = " " + line;
    if (random() % 30 == 0) line += " ";
    return random() % 40 == 0 ? std::string() : line;
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

// Runs of lines cross the 64-byte blocks the fast reader judges at every
// offset; what it takes must be exactly the lines in the writer's form.
TEST(ScoreRecord, PlainLinesAreTakenExactlyWhenInTheWritersForm) {
    std::mt19937 random(2004);
    const std::string name = "player1000";  // its last eight bytes are those of other names
    for (int round = 0; round < 3000; ++round) {
        std::vector<std::string> lines(1 + random() % 12);
        std::string text;
        for (std::string& line : lines) {
            line = makeLine(random, name);
            text += line + "\n";
        }
        bool fed = random() % 2 == 0;
        if (!fed) text.pop_back();  // the last line ends the file
        // Half the time no line may end at or past a point in the text.
        std::size_t until = random() % 2 == 0 ? 1 + random() % (text.size() + 1) : text.size() + 1;
        std::size_t expected = 0, at = 0;  // bytes of the plain lines followed by a line feed
        for (std::size_t line = 0; line + !fed < lines.size() && isWritersLine(lines[line], name) &&
                                   at + lines[line].size() < until;
             ++line) {
            at += lines[line].size() + 1;
            expected = at - 1;
        }
        if (lines.size() == 1 && !fed && isWritersLine(lines[0], name)) expected = lines[0].size();  // the file's end
        if (text.empty() || static_cast<unsigned char>(text[0]) <= ' ') continue;  // never called there
        ByteReader in(text);
        ASSERT_EQ(takePlainLines(in, name, static_cast<std::int64_t>(until)).size(), expected)
            << ::testing::PrintToString(text) << " until " << until;
    }
}

namespace {

struct SplitCase {
    std::ptrdiff_t at;  // a line index from the middle line, or from the end when below -1000
    const char* lines;  // put there in place of one plain line
};

}  // namespace

// A long file is judged by two threads, from the start and from the middle;
// whatever stands around the middle, the lookup must end as one reader's would.
TEST(ScoreRecord, LookupOfALongFileEndsAsOneReadersWould) {
    const std::vector<std::vector<SplitCase>> cases = {
        {{-1001, "bob 7 1 1 a b"}},                                   // stored last, all plain
        {{0, "bob 7 1 1 a b"}}, {{1, "bob 7 1 1 a b"}}, {{2, "bob 7 1 1 a b"}}, {{500, "bob 7 1 1 a b"}},
        {{-5, "bob 7 1 1 a b"}, {100, "bob 8 1 1 a b"}},              // stored twice
        {{-5, "bob 7 1 1 a b"}, {300, "ann 1 2 3 a b\r"}},           // a line in another form
        {{0, "ann 1 2\n3 a b"}, {-1001, "bob 7 1 1 a b"}},           // a record over two lines at the middle
        {{1, "bob 1 z 1 a b"}, {-1001, "bob 7 1 1 a b"}},             // a damaged record of the name
        {{-1001, "bob 7 1 1 a b\n"}},                                // a line feed after the last record
        {{-1000, "nobody 1 1 1 a b"}},                                // not there at all
    };
    ScratchFolder scratch;
    ASSERT_TRUE(scratch.enter());
    for (const std::vector<SplitCase>& changes : cases) {
        std::vector<std::string> lines(100000);
        for (std::size_t n = 0; n < lines.size(); ++n) lines[n] = "p" + std::to_string(n) + " 1 2 3 a b";
        for (const SplitCase& change : changes) {
            std::ptrdiff_t middle = static_cast<std::ptrdiff_t>(lines.size() / 2);
            lines[static_cast<std::size_t>(change.at < -1000 ? change.at + 1000 + middle * 2 : middle + change.at)] =
                change.lines;
        }
        std::string bytes;
        for (const std::string& line : lines) bytes += line + "\n";
        bytes.pop_back();
        { std::ofstream(kScoreFile, std::ios::binary) << bytes; }
        ByteReader whole(bytes);
        PlayerProfile expected{}, profile{};
        ScoreLookup expectedLookup{}, lookup{};
        bool expectedFound = findProfile(whole, "bob", expected, expectedLookup);
        platform::FileHandle file = platform::openForReading(kScoreFile, platform::Links::Refuse);
        char probe;
        bool readsAtOffsets = platform::readBytesAt(file, 0, &probe, 1) == 1;  // not on Windows
        bool found;
        {
            ByteReader in(file);
            PlainRunAhead ahead(file, platform::sizeOf(file), "bob");
            EXPECT_EQ(ahead.from() > 0, readsAtOffsets);
            found = findProfile(in, "bob", profile, lookup, &ahead);
            // In an all-plain file the lookup gets to the helper's lines and passes over them.
            if (readsAtOffsets && &changes == &cases.front()) {
                EXPECT_TRUE(ahead.passedOver());
            }
        }
        platform::closeFile(file);
        SCOPED_TRACE(changes.front().lines);
        ASSERT_EQ(found, expectedFound);
        EXPECT_EQ(profile.attempts, expected.attempts);
        EXPECT_STREQ(profile.intellectLabel, expected.intellectLabel);
        EXPECT_EQ(lookup.blockCopy, expectedLookup.blockCopy);
        EXPECT_EQ(lookup.firstRecord, expectedLookup.firstRecord);
        EXPECT_EQ(lookup.recordStart, expectedLookup.recordStart);
        EXPECT_EQ(lookup.recordEnd, expectedLookup.recordEnd);
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

// Reading the database: line bounds, line ends, the record count and key lines.
#include <string>

#include "questions/question_db.h"
#include "test_support.h"

namespace {

std::string record(const std::string& question, const std::string& key) {
    return question + "\nA1\nA2\nA3\nA4\n" + key + "\n";
}

std::string records(int count, const std::string& key) {
    std::string text;
    for (int n = 1; n <= count; ++n) text += record("Q" + std::to_string(n), key);
    return text;
}

std::int32_t passesOf(const std::string& text) {
    ByteReader in(text);
    return countRecordPasses(in);
}

}  // namespace

using QuestionDb = RunStateTest;

TEST_F(QuestionDb, LinesAreBoundedAndLineEndsDropped) {
    std::string longLine(300, 'x');
    std::string inBytes(std::string(249, 'y') + "\n" + longLine + "\nnext\r\nlast\r");
    ByteReader in(inBytes);
    DbLineReader reader{&in, false};
    char line[kLineSize];
    EXPECT_EQ(readDbLine(reader, line), 249);
    EXPECT_EQ(std::string(line), std::string(249, 'y'));
    EXPECT_EQ(readDbLine(reader, line), 249);  // cut, and the rest of the line skipped
    EXPECT_EQ(readDbLine(reader, line), 4);
    EXPECT_STREQ(line, "next");
    EXPECT_EQ(readDbLine(reader, line), 5);  // a return not followed by a line feed stays
    EXPECT_TRUE(reader.atEnd);
    EXPECT_EQ(readDbLine(reader, line), -1);
}

TEST_F(QuestionDb, ReturnBeyondTheKeptPartIsNotTakenFromIt) {
    std::string inBytes(std::string(248, 'a') + "\r" + std::string(5, 'b') + "\r\n");
    ByteReader in(inBytes);
    DbLineReader reader{&in, false};
    char line[kLineSize];
    EXPECT_EQ(readDbLine(reader, line), 249);
    EXPECT_EQ(line[248], '\r');
}

TEST_F(QuestionDb, CountRuleFollowsTheFinalLineFeed) {
    std::string fifty = records(50, "1");
    EXPECT_EQ(passesOf(fifty), 51);
    EXPECT_EQ(passesOf(fifty.substr(0, fifty.size() - 1)), 50);  // no final line feed
    EXPECT_EQ(passesOf(fifty + "\n"), 51);
    EXPECT_EQ(passesOf(fifty + "\n\n\n\n\n\n"), 52);
    EXPECT_EQ(passesOf(records(51, "1")), 52);
    EXPECT_EQ(passesOf(""), 1);
}

TEST_F(QuestionDb, CrlfReadsLikeBareLineFeeds) {
    std::string bare = records(3, "3 1 4 2");
    std::string crlf;
    for (char c : bare) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_EQ(passesOf(bare), passesOf(crlf));
    ByteReader in(crlf);
    ASSERT_TRUE(readQuestionRecord(in, 2, TestKind::Character));
    EXPECT_STREQ(runState.currentQuestion.questionText, "Q2");
    EXPECT_STREQ(runState.currentQuestion.answers[3], "A4");
    EXPECT_EQ(runState.answerCategory[0], 3);
    EXPECT_EQ(runState.answerCategory[3], 2);
}

TEST_F(QuestionDb, IntellectKeyIsTheFirstByteAndLeavesCategoriesAlone) {
    runState.answerCategory[1] = 4;
    std::string inBytes(record("first", "2 ignored") + record("second", "") + record("third", "4"));
    ByteReader in(inBytes);
    ASSERT_TRUE(readQuestionRecord(in, 2, TestKind::Intellect));
    EXPECT_STREQ(runState.currentQuestion.questionText, "second");
    EXPECT_EQ(runState.correctAnswer, -48);  // an empty key matches no digit
    EXPECT_EQ(runState.answerCategory[1], 4);
}

TEST_F(QuestionDb, CharacterKeyReadsOnlyItsOwnLine) {
    // The long key line of record 1 must not lend its bytes to record 2's short one.
    runState.correctAnswer = 3;
    std::string inBytes(record("one", "1x2y3z4 tail") + record("two", "4-0"));
    ByteReader in(inBytes);
    ASSERT_TRUE(readQuestionRecord(in, 2, TestKind::Character));
    EXPECT_EQ(runState.answerCategory[0], 4);
    EXPECT_EQ(runState.answerCategory[1], 0);
    EXPECT_EQ(runState.answerCategory[2], kNoCategory);
    EXPECT_EQ(runState.answerCategory[3], kNoCategory);
    EXPECT_EQ(runState.correctAnswer, 3);
}

TEST_F(QuestionDb, RecordBeyondTheEndIsRefused) {
    std::string two = record("one", "1") + record("two", "2");
    ByteReader exact(two);
    EXPECT_TRUE(readQuestionRecord(exact, 2, TestKind::Intellect));
    ByteReader beyond(two);
    EXPECT_FALSE(readQuestionRecord(beyond, 3, TestKind::Intellect));
    std::string noFinalFeedBytes(two.substr(0, two.size() - 1));
    ByteReader noFinalFeed(noFinalFeedBytes);
    EXPECT_TRUE(readQuestionRecord(noFinalFeed, 2, TestKind::Intellect));
    EXPECT_EQ(runState.correctAnswer, 2);
}

TEST_F(QuestionDb, LongestLineIsHeldWhole) {
    std::string question(249, 'q');
    std::string inBytes(record(question, "1"));
    ByteReader in(inBytes);
    ASSERT_TRUE(readQuestionRecord(in, 1, TestKind::Intellect));
    EXPECT_EQ(std::string(runState.currentQuestion.questionText), question);
}

TEST_F(QuestionDb, IndexedLoadsEqualLoadsFromTheFirstLine) {
    std::string text;  // records of varied length, so that places are not evenly spaced
    for (int n = 1; n <= 5000; ++n) text += record("Q" + std::to_string(n) + std::string(n % 7, 'x'), "3 1 4 2");
    RecordIndex index{};
    clearIndex(index);
    ByteReader counted(text);
    EXPECT_EQ(countRecordPasses(counted, &index), 5001);
    EXPECT_LE(index.places, kIndexPlaces);
    for (std::int32_t n : {1, 2, 8, 9, 1023, 1024, 1025, 4096, 4999, 5000}) {
        SCOPED_TRACE(n);
        std::int32_t first = 0;
        std::int64_t offset = -1;
        findNearestPlace(index, n, first, offset);
        ASSERT_TRUE(first >= 1 && first <= n && n - first < index.stride);
        ByteReader fromPlace(std::string_view(text).substr(static_cast<std::size_t>(offset)));
        ASSERT_TRUE(readQuestionRecord(fromPlace, n - first + 1, TestKind::Character));
        CurrentQuestion viaIndex = runState.currentQuestion;
        ByteReader fromStart(text);
        ASSERT_TRUE(readQuestionRecord(fromStart, n, TestKind::Character));
        EXPECT_EQ(std::memcmp(&viaIndex, &runState.currentQuestion, sizeof viaIndex), 0);
        EXPECT_EQ(std::string(viaIndex.questionText), "Q" + std::to_string(n) + std::string(n % 7, 'x'));
    }
}

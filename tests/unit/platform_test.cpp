// The platform layer's promises about files, the same on every system: appends
// land at the end, names are never taken over, only regular files are opened, a
// replacement is whole, and a look at a name tells what stands there.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/platform.h"
#include "test_support.h"

namespace {

std::string contentOf(const char* path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool writeNew(const char* path, const std::string& bytes) {
    platform::FileHandle file = platform::createExclusive(path);
    bool written = file != platform::kNoFile && platform::writeBytes(file, bytes.data(), bytes.size());
    return platform::closeFile(file) && written;
}

std::string readAll(platform::FileHandle file) {
    std::string bytes;
    char block[16];
    for (long count; (count = platform::readBytes(file, block, sizeof block)) > 0;) bytes.append(block, count);
    return bytes;
}

class Platform : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(scratch.enter()); }
    ScratchFolder scratch;
};

}  // namespace

TEST_F(Platform, AppendsLandAtTheEndAndTruncationCuts) {
    ASSERT_TRUE(writeNew("score", "abc"));
    EXPECT_EQ(platform::createExclusive("score"), platform::kNoFile) << "the name is taken";
    platform::FileHandle file = platform::openForAppend("score");
    ASSERT_NE(file, platform::kNoFile);
    EXPECT_EQ(readAll(file), "abc");
    ASSERT_TRUE(platform::truncateTo(file, 1));
    ASSERT_TRUE(platform::writeBytes(file, "xy", 2));
    EXPECT_TRUE(platform::syncToDisk(file));
    EXPECT_EQ(platform::sizeOf(file), 3);
    EXPECT_TRUE(platform::closeFile(file));
    EXPECT_EQ(contentOf("score"), "axy");
}

TEST_F(Platform, ReplacementIsWholeAndFreesTheOldName) {
    ASSERT_TRUE(writeNew("to", "old content"));
    ASSERT_TRUE(writeNew("from", "new"));
    ASSERT_TRUE(platform::replaceFile("from", "to")) << platform::lastErrorText();
    EXPECT_EQ(contentOf("to"), "new");
    EXPECT_FALSE(platform::nameExists("from"));
}

TEST_F(Platform, OnlyRegularFilesAreOpened) {
    ASSERT_TRUE(std::filesystem::create_directory("folder"));
    EXPECT_EQ(platform::openForReading("folder", platform::Links::Follow), platform::kNoFile);
    EXPECT_EQ(platform::openForAppend("folder"), platform::kNoFile);
    EXPECT_EQ(platform::createExclusive("folder"), platform::kNoFile);
    EXPECT_FALSE(platform::removeName("folder")) << "a folder is no name to free";
    EXPECT_TRUE(platform::nameExists("folder"));
    EXPECT_TRUE(platform::removeName("missing"));
    EXPECT_FALSE(platform::nameExists("missing"));
    EXPECT_EQ(platform::openForReading("missing", platform::Links::Refuse), platform::kNoFile);
    EXPECT_STRNE(platform::lastErrorText(), "");
}

TEST_F(Platform, LookAtNameTellsWhatStandsThere) {
    ASSERT_TRUE(writeNew("file", "first line\nsecond"));
    ASSERT_TRUE(std::filesystem::create_directory("folder"));
    platform::NameLook look;
    ASSERT_TRUE(platform::lookAtName("file", 10, look));
    EXPECT_EQ(look.kind, platform::NameKind::Regular);
    EXPECT_EQ(look.text, "first line");
    EXPECT_EQ(look.identity.size, 17);
    ASSERT_TRUE(platform::lookAtName("folder", 10, look));
    EXPECT_EQ(look.kind, platform::NameKind::Folder);
    ASSERT_TRUE(platform::lookAtName("missing", 10, look));
    EXPECT_EQ(look.kind, platform::NameKind::Absent);
    EXPECT_FALSE(platform::linkName("missing", "second"));
    EXPECT_EQ(platform::lastFailure(), platform::Failure::Missing);
}

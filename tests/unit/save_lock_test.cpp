// The writers' lock on the file system the tests run on: held by one game at a
// time and gone when released; a lock the system's lock shows held is never
// cleared; every kind of lock no game can be holding is. (Interleavings of games
// are the save simulator's: tests/sim.)
#include <filesystem>
#include <fstream>
#include <string>

#include "core/run_state.h"
#include "lock/save_lock.h"
#include "platform/platform.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

const LockTimes kShortTimes = lockTimesFor(600);  // stale after 500 ms, beats every 20

void writeFile(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

// The mark of a game that ran on this machine and has ended: this process's own,
// with a pid no process has.
std::string endedGameMark() {
    std::string mark = platform::holderMark();
    return "2147480000" + mark.substr(mark.find(' '));
}

class SaveLockTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(scratch.enter()); }
    ScratchFolder scratch;
};

}  // namespace

TEST_F(SaveLockTest, HeldByOneGameAtATimeAndGoneWhenReleased) {
    std::string why;
    {
        SaveLock first;
        ASSERT_TRUE(takeSaveLock(first, kShortTimes, why)) << why;
        EXPECT_TRUE(holdsSaveLock(first, why)) << why;
        SaveLock second;  // waits longer than a stopped lock stays: the heartbeat and the system's lock keep it
        EXPECT_FALSE(takeSaveLock(second, kShortTimes, why));
        EXPECT_EQ(why, "another game has held it for 2 seconds and is not done yet");
        EXPECT_TRUE(holdsSaveLock(first, why));
        releaseSaveLock(first);
        EXPECT_FALSE(fs::exists(kLockFile));
        ASSERT_TRUE(takeSaveLock(second, kShortTimes, why)) << why;
    }
    EXPECT_FALSE(fs::exists(kLockFile)) << "a lock goes with its game";
}

TEST_F(SaveLockTest, ALockTheSystemShowsHeldIsNeverCleared) {
    // A holder on another machine, stopped: its text never changes, but it holds the system's lock.
    platform::FileHandle holder = platform::createLockFile(kLockFile);
    ASSERT_NE(holder, platform::kNoFile);
    std::string text = "1 elsewhere x:1 1 2\n";
    ASSERT_TRUE(platform::writeBytes(holder, text.data(), text.size()));
    if (!platform::lockFileInUse(kLockFile)) GTEST_SKIP() << "this file system has no lock of the system's";
    SaveLock lock;
    std::string why;
    EXPECT_FALSE(takeSaveLock(lock, kShortTimes, why));
    EXPECT_TRUE(fs::exists(kLockFile));
    platform::closeFile(holder);  // it ends: now its lock is judged by its text alone, and cleared
    EXPECT_TRUE(takeSaveLock(lock, kShortTimes, why)) << why;
}

TEST_F(SaveLockTest, LocksNoGameHoldsAreCleared) {
    struct Row {
        const char* what;
        std::string text;
    };
    const Row rows[] = {
        {"a game here that ended", endedGameMark() + " 1\n"},
        {"a game elsewhere that stopped", "1 elsewhere x:1 1 2\n"},
        {"a file of no game", "garbage"},
        {"an empty file", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        writeFile(kLockFile, row.text);
        SaveLock lock;
        std::string why;
        EXPECT_TRUE(takeSaveLock(lock, kShortTimes, why)) << why;
        EXPECT_TRUE(holdsSaveLock(lock, why)) << why;
        releaseSaveLock(lock);
        EXPECT_FALSE(fs::exists(kLockFile));
    }
}

TEST_F(SaveLockTest, AFolderAtTheLocksNameIsNamedAndKept) {
    ASSERT_TRUE(fs::create_directory(kLockFile));
    EXPECT_EQ(lockObstacle(), "a folder stands at ~pz2004.lck: remove it");
    SaveLock lock;
    std::string why;
    EXPECT_FALSE(takeSaveLock(lock, kShortTimes, why));
    EXPECT_EQ(why, "a folder stands at ~pz2004.lck: remove it");
    EXPECT_TRUE(fs::is_directory(kLockFile));
}

TEST_F(SaveLockTest, ALockClearedMeanwhileIsNoLongerHeld) {
    SaveLock lock;
    std::string why;
    ASSERT_TRUE(takeSaveLock(lock, kShortTimes, why)) << why;
    std::error_code refused;
    if (!fs::remove(kLockFile, refused)) GTEST_SKIP() << "this system keeps a held lock's name: " << refused.message();
    writeFile(kLockFile, "another game's lock\n");
    EXPECT_FALSE(holdsSaveLock(lock, why));
    EXPECT_EQ(why, "another game took over the lock while this one was stopped");
    releaseSaveLock(lock);
    EXPECT_TRUE(fs::exists(kLockFile)) << "another game's lock is never removed";
}

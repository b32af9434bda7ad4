// The writers' lock on the file system the tests run on: held by one game at a
// time, kept fresh while held, gone when released; every kind of lock a game can
// no longer be holding cleared, and the leftovers of ended games removed.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/run_state.h"
#include "platform/platform.h"
#include "profiles/save_lock.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// The mark of a game that ran on this machine and has ended: this process's own,
// with a pid no process has.
std::string endedGameMark() {
    std::string mark = platform::holderMark();
    return "2147480000" + mark.substr(mark.find(' '));
}

class SaveLockTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(scratch.enter());
        putenv(const_cast<char*>("PROZOROMETR_LOCK_WAIT_MS=600"));  // stale after 200 ms, beats every 20
    }
    void TearDown() override { putenv(const_cast<char*>("PROZOROMETR_LOCK_WAIT_MS=30000")); }

    // Names in the folder that belong to the lock: its own and the games' private ones.
    static int lockNames() {
        int count = 0;
        for (const auto& entry : fs::directory_iterator(".")) {
            count += entry.path().filename().string().rfind(kLockFile, 0) == 0;
        }
        return count;
    }
    ScratchFolder scratch;
};

}  // namespace

TEST_F(SaveLockTest, HeldByOneGameAtATimeAndGoneWhenReleased) {
    std::string why;
    {
        SaveLock first;
        ASSERT_TRUE(takeSaveLock(first, why)) << why;
        EXPECT_TRUE(holdsSaveLock(first));
        EXPECT_EQ(lockNames(), 1) << "the private name is gone once the lock is taken";
        SaveLock second;  // waits three times as long as a stopped lock stays: the heartbeat keeps it fresh
        EXPECT_FALSE(takeSaveLock(second, why));
        EXPECT_EQ(why, "another game held the lock for too long");
        EXPECT_TRUE(holdsSaveLock(first));
        releaseSaveLock(first);
        EXPECT_FALSE(holdsSaveLock(first));
        EXPECT_EQ(lockNames(), 0);
        ASSERT_TRUE(takeSaveLock(second, why)) << why;
    }
    EXPECT_EQ(lockNames(), 0) << "a lock goes with its game";
}

TEST_F(SaveLockTest, LocksNoGameHoldsAreCleared) {
    struct Row {
        const char* what;
        std::string text;
        int ageSeconds;  // negative: a stamp in the future
    };
    const Row rows[] = {
        {"a game here that ended", endedGameMark() + " 1\n", 0},
        {"a game elsewhere that stopped", "1 elsewhere x:1 1 2\n", 0},
        {"a file of no game", "garbage", 0},
        {"an empty file", "", 0},
        {"a stamp in the future", "1 elsewhere x:1 1 2\n", -3600},
        {"a lock an hour old", "1 elsewhere x:1 1 2\n", 3600},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        writeFile(kLockFile, row.text);
        fs::last_write_time(kLockFile, fs::file_time_type::clock::now() - std::chrono::seconds(row.ageSeconds));
        SaveLock lock;
        std::string why;
        EXPECT_TRUE(takeSaveLock(lock, why)) << why;
        EXPECT_TRUE(holdsSaveLock(lock));
        releaseSaveLock(lock);
        EXPECT_EQ(lockNames(), 0);
    }
}

TEST_F(SaveLockTest, AnOldLockIsClearedAtOnceByTheFolderClock) {
    putenv(const_cast<char*>("PROZOROMETR_LOCK_WAIT_MS=30000"));  // a stopped lock would take 10 s
    writeFile(kLockFile, "1 elsewhere x:1 1 2\n");
    fs::last_write_time(kLockFile, fs::file_time_type::clock::now() - std::chrono::hours(1));
    auto start = std::chrono::steady_clock::now();
    SaveLock lock;
    std::string why;
    EXPECT_TRUE(takeSaveLock(lock, why)) << why;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(SaveLockTest, AFolderAtTheLocksNameIsNamedAndKept) {
    ASSERT_TRUE(fs::create_directory(kLockFile));
    EXPECT_EQ(lockObstacle(), "a folder stands at ~pz2004.lck: remove it");
    SaveLock lock;
    std::string why;
    EXPECT_FALSE(takeSaveLock(lock, why));
    EXPECT_EQ(why, "a folder stands at ~pz2004.lck: remove it");
    EXPECT_TRUE(fs::is_directory(kLockFile));
    EXPECT_EQ(lockNames(), 1) << "no private name left behind";
}

TEST_F(SaveLockTest, LeftoversOfEndedGamesAreRemovedAndLiveOnesKept) {
    struct Row {
        const char* name;
        std::string text;
        int ageSeconds;
        bool removed;
    };
    // Where a pid tells nothing (Windows), only the folder's clock clears a leftover.
    bool pidsTell = platform::judgeHolder(endedGameMark()) == platform::Holder::Gone;
    const Row rows[] = {
        {"~pz2004.lck.ended", endedGameMark() + " 1\n", 0, pidsTell},
        {"~pz2004.lck.old", "1 elsewhere x:1 1 3\n", 3600, true},
        {"~pz2004.lck.live", platform::holderMark() + " 2\n", 0, false},
        {"~pz2004.lck.waiting", "1 elsewhere x:1 1 4\n", 0, false},
    };
    for (const Row& row : rows) {
        writeFile(row.name, row.text);
        fs::last_write_time(row.name, fs::file_time_type::clock::now() - std::chrono::seconds(row.ageSeconds));
    }
    SaveLock lock;
    std::string why;
    ASSERT_TRUE(takeSaveLock(lock, why)) << why;
    for (const Row& row : rows) EXPECT_EQ(fs::exists(row.name), !row.removed) << row.name;
    EXPECT_EQ(lockObstacle(), "");
}

TEST_F(SaveLockTest, ALockClearedMeanwhileIsNoLongerHeld) {
    SaveLock lock;
    std::string why;
    ASSERT_TRUE(takeSaveLock(lock, why)) << why;
    std::error_code refused;
    if (!fs::remove(kLockFile, refused)) GTEST_SKIP() << "this system keeps a held lock's name: " << refused.message();
    writeFile(kLockFile, "another game's lock\n");
    EXPECT_FALSE(holdsSaveLock(lock));
    releaseSaveLock(lock);
    EXPECT_TRUE(fs::exists(kLockFile)) << "another game's lock is never removed";
}

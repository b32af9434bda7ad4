// The POSIX platform layer where the game cannot show it: descriptors 0-2 filled
// at start-up, and careful opens refusing what a hostile folder may hold.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace {

// Runs body in a child process with the descriptors in closed shut; returns the child's exit status.
template <typename Body>
int inChild(std::initializer_list<int> closed, Body body) {
    pid_t child = fork();
    if (child == 0) {
        for (int fd : closed) close(fd);
        std::_Exit(body());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

bool isNullDevice(int fd) {
    struct stat open, null;
    return fstat(fd, &open) == 0 && stat("/dev/null", &null) == 0 && open.st_rdev == null.st_rdev &&
           S_ISCHR(open.st_mode);
}

}  // namespace

TEST(PlatformPosix, ClosedStandardDescriptorsAreFilledWithTheNullDevice) {
    int status = inChild({0, 2}, [] {
        platform::prepareStandardStreams();
        platform::FileHandle file = platform::openForReading("/proc/self/exe", platform::Links::Follow);
        return isNullDevice(0) && isNullDevice(2) && file > 2 ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
}

TEST(PlatformPosix, CarefulOpensRefuseWhatIsNoRegularFile) {
    char folder[] = "/tmp/pz-platform-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    std::string base(folder), fifo = base + "/fifo", symbolic = base + "/link", file = base + "/file";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(close(open(file.c_str(), O_CREAT | O_WRONLY, 0600)), 0);
    ASSERT_EQ(symlink(file.c_str(), symbolic.c_str()), 0);
    EXPECT_EQ(platform::openForReading(fifo.c_str(), platform::Links::Follow), platform::kNoFile);  // no hang
    EXPECT_EQ(platform::openForReading(base.c_str(), platform::Links::Follow), platform::kNoFile);
    EXPECT_EQ(platform::openForReading(symbolic.c_str(), platform::Links::Refuse), platform::kNoFile);
    EXPECT_EQ(platform::openForAppend(symbolic.c_str()), platform::kNoFile);
    EXPECT_EQ(platform::createExclusive(file.c_str()), platform::kNoFile);
    platform::FileHandle followed = platform::openForReading(symbolic.c_str(), platform::Links::Follow);
    EXPECT_NE(followed, platform::kNoFile);
    platform::closeFile(followed);
    ASSERT_EQ(link(file.c_str(), (base + "/hard").c_str()), 0);
    EXPECT_EQ(platform::openForAppend(file.c_str()), platform::kNoFile);  // two links now
    for (const std::string& name : {fifo, symbolic, file, base + "/hard"}) unlink(name.c_str());
    rmdir(folder);
}

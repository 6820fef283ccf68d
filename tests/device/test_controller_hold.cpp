// The hold that lets one program at a time change a controller: refused while held, with the holder named;
// free again once the holder lets go or dies; never a link followed in the shared lock folder.
#include "device/controller_hold.h"

#include "tests/cli/scratch_test.h"
#include "tests/scoped_env.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#ifdef _WIN32
#include <process.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

using ::testing::HasSubstr;

#ifdef _WIN32
int ProcessId() { return _getpid(); }
#else
int ProcessId() { return getpid(); }
#endif

class Hold : public ScratchTest {
protected:
    std::optional<ScopedEnv> lockDir;
    void SetUp() override
    {
        ScratchTest::SetUp();
        lockDir.emplace("DOORPHONECONFIG_LOCK_DIR", dir.string().c_str());
    }
    void TearDown() override
    {
        lockDir.reset();
        ScratchTest::TearDown();
    }
    static std::size_t FilesIn(const std::filesystem::path& folder)
    {
        return static_cast<std::size_t>(
            std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator()));
    }
};

TEST_F(Hold, ASecondHolderIsRefusedAndToldWhoHoldsItUntilTheFirstLetsGo)
{
    ControllerHold::Attempt first = ControllerHold::Take("usb-1-2", "doorphonectl flash");
    ASSERT_TRUE(first.hold) << first.error;

    ControllerHold::Attempt second = ControllerHold::Take("usb-1-2", "doorphonectl set");
    EXPECT_FALSE(second.hold);
    EXPECT_EQ(second.heldBy, "doorphonectl flash, process " + std::to_string(ProcessId()));

    // Another controller is another hold.
    EXPECT_TRUE(ControllerHold::Take("usb-1-3", "doorphonectl set").hold);

    first.hold.reset();
#ifndef _WIN32
    EXPECT_EQ(FilesIn(dir), 0u) << "the lock file goes with the hold";
#endif
    EXPECT_TRUE(ControllerHold::Take("usb-1-2", "doorphonectl set").hold);
}

#ifndef _WIN32
TEST_F(Hold, AHolderThatDiesLeavesNoStaleHold)
{
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    if (child == 0) {
        ControllerHold::Attempt held = ControllerHold::Take("usb-1-2", "doorphoneconfig");
        const char byte = held.hold ? 1 : 0;
        [[maybe_unused]] ssize_t n = write(ready[1], &byte, 1);
        pause();  // until killed, the hold still held
        _exit(0);
    }
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    ASSERT_EQ(byte, 1);
    const ControllerHold::Attempt whileAlive = ControllerHold::Take("usb-1-2", "doorphonectl set");
    EXPECT_FALSE(whileAlive.hold);
    EXPECT_EQ(whileAlive.heldBy, "doorphoneconfig, process " + std::to_string(child));

    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(ready[0]);
    close(ready[1]);
    EXPECT_TRUE(ControllerHold::Take("usb-1-2", "doorphonectl set").hold) << "nothing is left held by the dead";
}

TEST_F(Hold, KeysOfAnyTextAndLinksInTheLockFolder)
{
    // A device path as the key stays one file in the folder.
    ControllerHold::Attempt byPath = ControllerHold::Take("/dev/hidraw0", "doorphonectl set");
    ASSERT_TRUE(byPath.hold) << byPath.error;
    EXPECT_TRUE(std::filesystem::exists(File("doorphoneconfig-_dev_hidraw0.lock")));

    // A link planted where the lock goes is not followed, and what it aims at is left as it was.
    std::filesystem::create_symlink(File("target"), File("doorphoneconfig-usb-9-9.lock"));
    const ControllerHold::Attempt planted = ControllerHold::Take("usb-9-9", "doorphonectl set");
    EXPECT_FALSE(planted.hold);
    EXPECT_TRUE(planted.heldBy.empty());
    EXPECT_THAT(planted.error, HasSubstr("cannot make the lock"));
    EXPECT_FALSE(std::filesystem::exists(File("target")));
}
#endif

TEST_F(Hold, AHoldersNameReachesOthersWithoutItsControls)
{
    ControllerHold::Attempt first = ControllerHold::Take("usb-1-2", "evil\x1b[2J name\x07");
    ASSERT_TRUE(first.hold);
    const ControllerHold::Attempt second = ControllerHold::Take("usb-1-2", "doorphonectl set");
    EXPECT_THAT(second.heldBy, HasSubstr("evil?[2J name?"));
}

}  // namespace

// The window started with standard input and output closed, as a desktop launcher or a careless script may
// start it: both are the null device before anything else is opened, so neither the window system's
// connection nor a log takes their numbers (where the command reader would eat its bytes, or the firmware
// trace write into it). The program itself, over the virtual controller, on Qt's offscreen platform.
#include "tests/cli/process.h"
#include "tests/cli/scratch_test.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>

namespace {

std::string Target(pid_t pid, int fd)
{
    char target[PATH_MAX] = {};
    const std::string link = "/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd);
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    return n < 0 ? std::string("(closed)") : std::string(target, static_cast<std::size_t>(n));
}

class StandardDescriptors : public ScratchTest {};

TEST_F(StandardDescriptors, TheWindowStartedWithInputAndOutputClosedRunsOnTheNullDevice)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, 0);
    posix_spawn_file_actions_addclose(&actions, 1);
    posix_spawn_file_actions_addopen(&actions, 2, File("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> args{DPC_DOORPHONECONFIG, "--simulate", "--wire-log", File("wire.log")};
    std::vector<char*> argv = Argv(args);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);

    // Up, and connected to the virtual controller: it has read the settings.
    const bool connected =
        RunningProgram::AwaitFile(File("wire.log"), [](const std::string& w) { return w.find("GET 05") != w.npos; });
    EXPECT_TRUE(connected) << ReadFile(File("err"));
    EXPECT_EQ(Target(pid, 0), "/dev/null");
    EXPECT_EQ(Target(pid, 1), "/dev/null");

    // And it can be ended.
    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) || WIFEXITED(status));
    EXPECT_EQ(ReadFile(File("wire.log")).find("#"), std::string::npos) << "nothing but transfers in the wire log";
}

}  // namespace

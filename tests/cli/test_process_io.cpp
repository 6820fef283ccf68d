// doorphonectl where its surroundings fail it: standard output on a full disk or a closed pipe, standard
// descriptors closed at start, an export aimed at something that is not a file, a state file another run
// holds, and profiles built to flood or cut short what is said about them. The real program each time.
#include "tests/cli/process.h"
#include "tests/cli/scratch_test.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/file.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
namespace fs = std::filesystem;

int Count(const std::string& text, const std::string& what)
{
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

class ProcessIo : public ScratchTest {
protected:
    Result Ctl(std::vector<std::string> args, const StandardOutput& output = {})
    {
        args.insert(args.begin(), DPC_DOORPHONECTL);
        return RunProgram(std::move(args), dir.string(), output);
    }
    void WriteProfile(const std::string& settings)
    {
        std::ofstream(File("profile.json"))
            << R"({"format": "doorphoneconfig-profile", "version": 1, "settings": )" << settings << "}";
    }
};

TEST_F(ProcessIo, ACommandWhoseOutputCannotBeWrittenSaysSoAndFails)
{
    WriteProfile(R"({"door.open-code": "42"})");
    const std::vector<std::vector<std::string>> commands = {
        {"--simulate", "show"},
        {"--simulate", "show", "--json"},
        {"--simulate", "export", "-"},
        {"--simulate", "get", "door.relay-time"},
        {"--simulate", "get", "door.relay-time", "--json"},
        {"--simulate", "list"},
        {"--simulate", "list", "--json"},
        {"keys"},
        {"keys", "--json"},
        {"--simulate", "provision", File("profile.json"), "--once", "--json"},
    };
    for (const auto& command : commands) {
        SCOPED_TRACE(command.back());
        const Result r = Ctl(command, {"/dev/full"});
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_THAT(r.err, HasSubstr("cannot write to standard output: No space left on device"));
    }
    // The same commands with somewhere to write succeed.
    EXPECT_EQ(Ctl({"--simulate", "show"}).status, 0);
    EXPECT_EQ(Ctl({"keys", "--json"}).status, 0);
}

// provision ... | head -1: the reader goes, the unit under way is finished and recorded, and the run ends
// with the reason rather than dying of the closed pipe.
TEST_F(ProcessIo, ProvisionOnAClosedPipeFinishesAndRecordsTheUnit)
{
    WriteProfile(R"({"door.open-code": "42", "audio.speaker-volume": "7"})");
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    close(pipeFds[0]);  // nobody reads
    const Result r = Ctl({"--simulate", "--wire-log", File("wire.log"), "provision", File("profile.json"), "--once",
                          "--log", File("record.log")},
                         {"", pipeFds[1]});
    close(pipeFds[1]);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_THAT(r.err, HasSubstr("cannot write to standard output: Broken pipe"));
    EXPECT_THAT(ReadFile(File("record.log")),
                HasSubstr("virtual:7410/0: firmware 1.05.2 -> 1.05.2, 2 settings written, OK"));
    EXPECT_EQ(Count(ReadFile(File("wire.log")), "SET 03"), 2);
}

// Closed at start, standard output is the null device: what the command prints never lands in a file it
// opens later (the wire log), which would otherwise take descriptor 1.
TEST_F(ProcessIo, AClosedStandardOutputTakesNoFileOfTheRun)
{
    StandardOutput closed;
    closed.closed = true;
    const Result r = Ctl({"--simulate", "--wire-log", File("wire.log"), "show"}, closed);
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string wire = ReadFile(File("wire.log"));
    EXPECT_THAT(wire, HasSubstr("GET 04"));
    EXPECT_THAT(wire, Not(HasSubstr("Controller")));
    EXPECT_THAT(wire, Not(HasSubstr("Firmware")));
}

TEST_F(ProcessIo, ExportReplacesOnlyARegularFile)
{
    struct stat before {};
    ASSERT_EQ(stat("/dev/null", &before), 0);
    ASSERT_EQ(mkfifo(File("fifo").c_str(), 0600), 0);
    fs::create_symlink("/dev/null", dir / "to-device");
    fs::create_directory(dir / "folder");
    const std::vector<std::pair<std::string, std::string>> targets = {
        {"/dev/null", "it is a device"},
        {File("fifo"), "it is a FIFO"},
        {File("to-device"), "it is a device"},
        {File("folder"), "it is a folder"},
    };
    for (const auto& [target, why] : targets) {
        SCOPED_TRACE(target);
        const Result r = Ctl({"--simulate", "export", target});
        EXPECT_EQ(r.status, 2);
        EXPECT_THAT(r.err, HasSubstr("will not write the profile to " + target + ": " + why));
    }
    struct stat after {};
    ASSERT_EQ(stat("/dev/null", &after), 0);
    EXPECT_TRUE(S_ISCHR(after.st_mode));
    EXPECT_EQ(after.st_rdev, before.st_rdev);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(fs::status(dir / "fifo").type(), fs::file_type::fifo);
    EXPECT_TRUE(fs::is_symlink(dir / "to-device"));
    for (const auto& entry : fs::directory_iterator(dir)) {
        EXPECT_THAT(entry.path().filename().string(), Not(HasSubstr("doorphoneconfig-"))) << "no temporary left";
    }
    // A regular file, and a symlink to one, are written as before.
    std::ofstream(File("old.json")) << "old";
    fs::create_symlink("old.json", dir / "to-file");
    ASSERT_EQ(Ctl({"--simulate", "export", File("to-file")}).status, 0);
    EXPECT_TRUE(fs::is_symlink(dir / "to-file"));
    EXPECT_THAT(ReadFile(File("old.json")), HasSubstr("doorphoneconfig-profile"));
}

TEST_F(ProcessIo, AnEmptyDevicePathIsRefusedRatherThanTakenForTheFirstController)
{
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--simulate", "--wire-log", File("wire.log"), "--device", "", "set", "door.open-code", "5"},
             {"--simulate", "--wire-log", File("wire.log"), "show", "--device", ""}}) {
        const Result r = Ctl(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_THAT(r.err, HasSubstr("--device needs the PATH of a controller"));
    }
    EXPECT_FALSE(fs::exists(dir / "wire.log")) << "nothing was sent";
}

TEST_F(ProcessIo, ARunWaitingForAnotherOnTheStateFileSaysSo)
{
    ASSERT_EQ(Ctl({"--simulate=" + File("s.json"), "set", "door.open-code", "5"}).status, 0);
    const int held = open(File("s.json.lock").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    RunningProgram p({DPC_DOORPHONECTL, "--simulate=" + File("s.json"), "get", "door.open-code"}, dir.string());
    ASSERT_TRUE(p.Started());
    EXPECT_TRUE(RunningProgram::AwaitFile(p.ErrPath(), [](const std::string& e) { return !e.empty(); }));
    EXPECT_EQ(p.OutSoFar(), "") << "it waits";
    close(held);  // the other run ends
    const Result r = p.Finish();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "doorphonectl: another run uses the state file " + File("s.json") + "; waiting for it to end\n");
    EXPECT_EQ(r.out, "5\n");
    // A run that finds the file free says nothing of it.
    EXPECT_EQ(Ctl({"--simulate=" + File("s.json"), "get", "door.open-code"}).err, "");
}

TEST_F(ProcessIo, AStatePathThatIsNoFileIsRefusedWithoutALockBesideIt)
{
    ASSERT_EQ(mkfifo(File("fifo").c_str(), 0600), 0);
    fs::create_directory(dir / "folder");
    const bool nullLockBefore = fs::exists("/dev/null.lock");
    for (const auto& [state, why] : std::vector<std::pair<std::string, std::string>>{
             {File("fifo"), "it is a FIFO"}, {File("folder"), "it is a folder"}, {"/dev/null", "it is a device"}}) {
        SCOPED_TRACE(state);
        const Result r = Ctl({"--simulate=" + state, "show"});
        EXPECT_EQ(r.status, 2);
        EXPECT_THAT(r.err, HasSubstr("cannot use the state file " + state + ": " + why));
        EXPECT_FALSE(fs::exists(state + ".lock"));
    }
    if (nullLockBefore) {
        GTEST_SKIP() << "/dev/null.lock was there before this test";
    }
}

TEST_F(ProcessIo, AProfileWithANulByteIsRefused)
{
    // Valid JSON up to the NUL; what follows it would have been ignored in silence.
    std::ofstream(File("profile.json"), std::ios::binary)
        << R"({"format": "doorphoneconfig-profile", "version": 1, "settings": {"door.open-code": "42"}})"
        << std::string(1, '\0') << R"(, "audio.dsp": "nope")";
    const Result r = Ctl({"--simulate", "--wire-log", File("wire.log"), "import", File("profile.json")});
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.err, HasSubstr("not JSON text: a NUL byte at byte 89"));
    EXPECT_EQ(ReadFile(File("wire.log")), "") << "nothing was sent";
}

TEST_F(ProcessIo, ThousandsOfUnknownKeysAreCountedNotListed)
{
    std::string settings = "{";
    for (int i = 0; i < 60000; ++i) {
        settings += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":\"1\"";
    }
    WriteProfile(settings + "}");
    const Result r = Ctl({"--simulate", "import", File("profile.json")});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(Count(r.err, "\n"), 11) << r.err.substr(0, 2000);
    EXPECT_EQ(Count(r.err, "unknown key k"), 10);
    EXPECT_THAT(r.err, HasSubstr("and 59990 more unknown keys"));
}

TEST_F(ProcessIo, FlashRecordsAFailureBeforeProgramming)
{
    const Result r = Ctl({"--simulate", "--device", "virtual:7410/7", "flash", "--yes", "--log", File("record.log")});
    EXPECT_EQ(r.status, 1);
    const std::string record = ReadFile(File("record.log"));
    EXPECT_EQ(Count(record, "\n"), 1);
    EXPECT_THAT(record, HasSubstr("flash 2.01.0 virtual:7410/7: firmware unknown -> unknown, 0 settings written, "
                                  "FAILED: no controller at virtual:7410/7"));
}

TEST_F(ProcessIo, AWireLogThatFailsMakesTheRunFailAtItsEnd)
{
    const Result r = Ctl({"--simulate", "--wire-log", "/dev/full", "set", "door.open-code", "5"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Count(r.err, "cannot write the wire log /dev/full"), 1) << "said once";
    EXPECT_THAT(r.err, HasSubstr("the wire log /dev/full is incomplete: No space left on device"));
}

}  // namespace

// provision as a technician runs it: the real command on the virtual bench, fed the virtual controller's
// commands on its standard input, stopped with Ctrl+C (SIGINT) between units and in the middle of one.
#include "tests/cli/process.h"
#include "tests/cli/scratch_test.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using ::testing::HasSubstr;
using ::testing::MatchesRegex;

int Count(const std::string& text, const std::string& what)
{
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

class ProvisionProcess : public ScratchTest {
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        // Four settings that differ from the factory memory, so a unit takes four writes.
        std::ofstream(File("profile.json")) << R"({"format": "doorphoneconfig-profile", "version": 1, "settings": {
            "audio.speaker-volume": "7", "door.open-code": "42", "door.relay-time": "10 Seconds",
            "maintenance.dtmf-password": "4321"}})";
    }
    std::vector<std::string> Provision()
    {
        return {DPC_DOORPHONECTL, "--simulate",         "--wire-log", File("wire.log"),
                "provision",      File("profile.json"), "--log",      File("record.log")};
    }
    // Provision with `signal` sent while the second unit, which answers slowly, takes its second write.
    Result SignalDuringTheSecondUnit(int signal)
    {
        RunningProgram p(Provision(), dir.string());
        EXPECT_TRUE(p.Started());
        EXPECT_TRUE(
            RunningProgram::AwaitFile(p.ErrPath(), [](const std::string& e) { return e.find("Pull out") != e.npos; }));
        p.Say("latency 150");
        p.Say("next");
        EXPECT_TRUE(
            RunningProgram::AwaitFile(File("wire.log"), [](const std::string& w) { return Count(w, "SET 03") == 5; }));
        p.Signal(signal);
        return p.Finish();
    }
};

TEST_F(ProvisionProcess, CtrlCBetweenUnitsEndsWithASummary)
{
    RunningProgram p(Provision(), dir.string());
    ASSERT_TRUE(p.Started());
    ASSERT_TRUE(
        RunningProgram::AwaitFile(p.ErrPath(), [](const std::string& e) { return e.find("Pull out") != e.npos; }));
    p.Say("next");
    ASSERT_TRUE(RunningProgram::AwaitFile(p.ErrPath(), [](const std::string& e) { return Count(e, "Pull out") == 2; }));
    p.Signal(SIGINT);
    const Result r = p.Finish();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "virtual:7410/0: firmware 1.05.2 -> 1.05.2, 4 settings written, OK\n"
                     "virtual:7410/1: firmware 1.05.2 -> 1.05.2, 4 settings written, OK\n"
                     "Provisioned 2 controllers: 2 OK, 0 failed, 0 interrupted.\n");
    EXPECT_EQ(Count(ReadFile(File("record.log")), "\n"), 2);
    EXPECT_EQ(Count(ReadFile(File("wire.log")), "SET 03"), 8);
}

TEST_F(ProvisionProcess, CtrlCDuringAUnitFinishesTheTransferAndSaysWhatWasWritten)
{
    // The next unit answers slowly: Ctrl+C lands while its second write is under way.
    const Result r = SignalDuringTheSecondUnit(SIGINT);
    EXPECT_EQ(r.status, 1) << r.err;
    std::istringstream lines(r.out);
    std::string first, second, summary;
    std::getline(lines, first);
    std::getline(lines, second);
    std::getline(lines, summary);
    EXPECT_THAT(first, HasSubstr("4 settings written, OK"));
    EXPECT_THAT(second, MatchesRegex("virtual:7410/1: firmware 1.05.2 -> 1.05.2, 2 settings written, INTERRUPTED: "
                                     "stopped before [a-z.-]+; already written: .*; not written: [a-z.-]+, [a-z.-]+"));
    EXPECT_EQ(summary, "Provisioned 2 controllers: 1 OK, 0 failed, 1 interrupted.");
    // The transfer under way finished; nothing was sent after it, and nothing half.
    const std::string wire = ReadFile(File("wire.log"));
    EXPECT_EQ(Count(wire, "SET 03"), 6);
    EXPECT_EQ(Count(wire, " ok\n"), Count(wire, "\n"));
    const std::string record = ReadFile(File("record.log"));
    EXPECT_EQ(Count(record, "\n"), 2);
    EXPECT_THAT(record, HasSubstr(second));
}

// The hang-up a dropped SSH session sends stops the unit as Ctrl+C does, rather than ending the run halfway.
TEST_F(ProvisionProcess, AHangUpDuringAUnitIsAStopToo)
{
    const Result r = SignalDuringTheSecondUnit(SIGHUP);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_THAT(
        r.out, HasSubstr("virtual:7410/1: firmware 1.05.2 -> 1.05.2, 2 settings written, INTERRUPTED: stopped before"));
    EXPECT_THAT(r.out, HasSubstr("Provisioned 2 controllers: 1 OK, 0 failed, 1 interrupted."));
    EXPECT_EQ(Count(ReadFile(File("record.log")), "\n"), 2);
}

TEST_F(ProvisionProcess, CommandsThatAreWrongAreSaidAndTheRunGoesOn)
{
    RunningProgram p(Provision(), dir.string());
    ASSERT_TRUE(p.Started());
    ASSERT_TRUE(
        RunningProgram::AwaitFile(p.ErrPath(), [](const std::string& e) { return e.find("Pull out") != e.npos; }));
    p.Say("next 9.99.99");
    p.Say(std::string(5000, 'x'));
    p.Say("attach 2.01.0");
    ASSERT_TRUE(RunningProgram::AwaitFile(p.ErrPath(), [](const std::string& e) { return Count(e, "Pull out") == 2; }));
    p.Signal(SIGTERM);
    const Result r = p.Finish();
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.err, HasSubstr("doorphonectl: next: expected nothing, or the firmware"));
    EXPECT_THAT(r.err, HasSubstr("too long"));
    EXPECT_THAT(r.out, HasSubstr("virtual:7410/1: firmware 2.01.0 -> 2.01.0, 4 settings written, OK"));
}

}  // namespace

// doorphonectl on the real hidapi/udev backend, with the controller emulated at the kernel's HID interface:
// the same commands as on the virtual controller's platform layer must put the same bytes on the wire, and
// discovery, the kernel's errors and a refused node must reach the user as they would on a real machine.
#include "resources/version.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/cli/process.h"
#include "tests/cli/scratch_test.h"
#include "tests/cli/wire_units.h"
#include "tests/text_lines.h"

#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class RealBackendCli : public ScratchTest {
protected:
    Result Run(std::vector<std::string> args) { return RunProgram(std::move(args), dir.string()); }

    // doorphonectl inside the emulated kernel device, with the emulator's options first.
    Result OnKernel(std::vector<std::string> emulatorOptions, std::vector<std::string> command)
    {
        std::vector<std::string> args{DPC_EMULATOR};
        args.insert(args.end(), emulatorOptions.begin(), emulatorOptions.end());
        args.push_back("--");
        args.push_back(DPC_DOORPHONECTL);
        args.insert(args.end(), command.begin(), command.end());
        return Run(args);
    }
    // A shell script inside the emulated kernel device, for several commands on one bench.
    Result ShellOnKernel(std::vector<std::string> emulatorOptions, const std::string& script)
    {
        std::vector<std::string> args{DPC_EMULATOR};
        args.insert(args.end(), emulatorOptions.begin(), emulatorOptions.end());
        args.insert(args.end(), {"--", "/bin/sh", "-c", script});
        return Run(args);
    }
    Result OnSimulate(std::vector<std::string> command)
    {
        std::vector<std::string> args{DPC_DOORPHONECTL, "--simulate"};
        args.insert(args.end(), command.begin(), command.end());
        return Run(args);
    }
};

TEST_F(RealBackendCli, EveryCommandPutsTheSameBytesOnTheWireAsOnTheVirtualController)
{
    std::ofstream(File("profile.json")) << R"({"format": "doorphoneconfig-profile", "version": 1, "settings": {
        "audio.dsp": "Full Duplex without Noise Reduction", "door.open-code": "42", "disconnect.type": "Loop Current",
        "disconnect.loop-disconnect": "1 Second", "maintenance.dtmf-password": "4321"}})";
    const std::vector<std::vector<std::string>> commands = {
        {"show"},
        {"show", "--json"},
        {"get", "door.relay-time"},
        {"set", "audio.speaker-volume", "7"},
        {"set", "door.open-code", "123"},
        {"export", File("exported.json")},
        {"import", File("profile.json")},
        {"restore-defaults"},
        {"flash", "--yes"},
    };
    for (const auto& command : commands) {
        std::string name;
        for (const std::string& word : command) {
            name += word + " ";
        }
        SCOPED_TRACE(name);
        std::vector<std::string> kernel{"--wire-log", File("kernel.log")};
        kernel.insert(kernel.end(), command.begin(), command.end());
        std::vector<std::string> simulated{"--wire-log", File("simulated.log")};
        simulated.insert(simulated.end(), command.begin(), command.end());
        std::filesystem::remove(File("kernel.log"));
        std::filesystem::remove(File("simulated.log"));

        const Result k = OnKernel({}, kernel);
        const Result s = OnSimulate(simulated);
        EXPECT_EQ(k.status, 0) << k.err;
        EXPECT_EQ(s.status, 0) << s.err;
        const std::string kernelWire = ReadFile(File("kernel.log"));
        EXPECT_FALSE(kernelWire.empty());
        EXPECT_EQ(kernelWire, ReadFile(File("simulated.log")));
    }
}

TEST_F(RealBackendCli, DiscoveryOnACrowdedBenchOpensTheControllerOnly)
{
    // hidraw0: the vendor's other product; hidraw1: another vendor; hidraw2 and hidraw3: the controller's two
    // interfaces, the first with two top-level usages.
    const Result r = OnKernel({"--crowded", "--trace", File("trace")}, {"get", "audio.dsp"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string trace = ReadFile(File("trace"));
    EXPECT_THAT(trace, HasSubstr("/dev/hidraw2 open"));
    EXPECT_THAT(trace, HasSubstr("/dev/hidraw2 get feature 63"));
    EXPECT_THAT(trace, Not(HasSubstr("/dev/hidraw0 get")));
    EXPECT_THAT(trace, Not(HasSubstr("/dev/hidraw0 set")));
    EXPECT_THAT(trace, Not(HasSubstr("/dev/hidraw1")));
    EXPECT_THAT(trace, Not(HasSubstr("/dev/hidraw3")));
    const std::string opened = "/dev/hidraw2 open";
    EXPECT_EQ(trace.find(opened), trace.rfind(opened)) << "opened once";

    // One line for the controller, as every other command counts it: its second interface is no second unit,
    // and the first one, with two top-level usages, is listed once.
    const Result list = OnKernel({"--crowded"}, {"list"});
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(list.out, "/dev/hidraw2\t0x7410\taccessible\n");

    // A controller taken down in the middle of the listing (its uevent read once, then no longer), as when a
    // bench's units restart after programming: the others are listed and read.
    const Result leaving = OnKernel({"--apply", "attach", "--apply", "leaving"}, {"list"});
    ASSERT_EQ(leaving.status, 0) << leaving.err;
    EXPECT_THAT(leaving.out, HasSubstr("/dev/hidraw0\t0x7410\taccessible\n"));
    EXPECT_EQ(
        OnKernel({"--apply", "attach", "--apply", "leaving"}, {"--device", "/dev/hidraw0", "get", "audio.dsp"}).status,
        0);
}

TEST_F(RealBackendCli, TheKernelsErrorsReachTheUserInTheSystemsWords)
{
    // Transfers of a set: status, settings, string pool, then the parameter report.
    Result r = OnKernel({"--apply", "fail 4 epipe"}, {"set", "audio.dsp", "1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("refused the report for audio.dsp"));
    EXPECT_THAT(r.err, HasSubstr("Broken pipe"));
    EXPECT_THAT(r.err, Not(HasSubstr("ioctl (")));  // the system's words, not the HID library's prefix

    r = OnKernel({"--apply", "fail 1 etimedout"}, {"show"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("/dev/hidraw0 does not answer the status read"));
    EXPECT_THAT(r.err, HasSubstr("timed out"));
    EXPECT_THAT(r.err, Not(HasSubstr("ioctl (")));

    // A settings report cut short by the device is a failed read, not a short answer taken as whole.
    r = OnKernel({"--apply", "answer 4 04 20 10"}, {"show"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("did not answer the settings read"));

    r = OnKernel({"--apply", "fail 30 epipe"}, {"flash", "--yes"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("programming failed"));
    EXPECT_THAT(r.err, HasSubstr("Broken pipe"));
}

TEST_F(RealBackendCli, ANodeThisUserMayNotOpenIsNamedWithTheFix)
{
    std::vector<std::string> args{DPC_AS_UNPRIVILEGED, DPC_EMULATOR, "--node-mode",    "0000", "--trace",
                                  File("trace"),       "--",         DPC_DOORPHONECTL, "show"};
    const Result r = Run(args);
    if (r.status == 77) {
        GTEST_SKIP() << r.err;
    }
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_THAT(r.err, HasSubstr("/dev/hidraw0"));
    EXPECT_THAT(r.err, HasSubstr("this user may not open it"));
    EXPECT_THAT(r.err, HasSubstr(DPC_UDEV_RULE));
    EXPECT_THAT(r.err, HasSubstr("udevadm control --reload"));
    EXPECT_THAT(ReadFile(File("trace")), Not(HasSubstr("open"))) << "hidapi never opens a refused node";

    args.back() = "list";
    const Result list = Run(args);
    EXPECT_EQ(list.out, "/dev/hidraw0\t0x7410\tno access (this user may not open it)\n");
}

// Several controllers on the kernel's side: each its own USB device and node, chosen with --device; a
// controller's second interface is not a second controller.
TEST_F(RealBackendCli, ABenchOfControllersIsChosenAmongByNode)
{
    Result r = OnKernel({"--apply", "attach 2.01.0"}, {"set", "door.open-code", "5"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "doorphonectl: 2 controllers are attached; choose the one to change with --device PATH:\n"
                     "  /dev/hidraw0\n  /dev/hidraw1\n");
    const std::string d = DPC_DOORPHONECTL;
    r = ShellOnKernel({"--apply", "attach 2.01.0"}, d + " --device /dev/hidraw1 set door.open-code 5 && " + d +
                                                        " get door.open-code --device /dev/hidraw1 && " + d +
                                                        " --device /dev/hidraw0 get door.open-code && " + d +
                                                        " --device /dev/hidraw1 show");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, ::testing::StartsWith("door.open-code = \"5\"\n5\n9\n"));
    EXPECT_THAT(r.out, HasSubstr("Firmware     2.01.0"));

    r = OnKernel({"--crowded"}, {"set", "door.open-code", "5"});
    EXPECT_EQ(r.status, 0) << r.err;
}

// On the real backend too, a provisioned unit sees what flash and then import would send it.
TEST_F(RealBackendCli, AProvisionedUnitSeesWhatFlashAndImportSend)
{
    std::ofstream(File("profile.json")) << R"({"format": "doorphoneconfig-profile", "version": 1, "settings": {
        "door.open-code": "42", "audio.speaker-volume": "7"}})";
    const std::string d = DPC_DOORPHONECTL;
    Result r = ShellOnKernel({}, d + " --wire-log " + File("byhand.log") + " flash --yes && " + d + " --wire-log " +
                                     File("byhand.log") + " import " + File("profile.json"));
    ASSERT_EQ(r.status, 0) << r.err;
    r = OnKernel({}, {"--wire-log", File("provision.log"), "provision", File("profile.json"), "--flash", "--once",
                      "--log", File("record.log")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "/dev/hidraw0: firmware 1.05.2 -> 2.01.0, 2 settings written, OK\n"
                     "Provisioned 1 controller: 1 OK, 0 failed, 0 interrupted.\n");
    EXPECT_EQ(Untagged(ReadFile(File("provision.log"))), ReadFile(File("byhand.log")));
    EXPECT_THAT(ReadFile(File("record.log")), HasSubstr("provision " + File("profile.json") + " /dev/hidraw0: "));
}

// The kernel gives the next controller the node the last one left: provision takes it as a new unit.
TEST_F(RealBackendCli, ProvisionTakesTheNextControllerOnTheNodeTheLastOneLeft)
{
    std::ofstream(File("profile.json")) << R"({"format": "doorphoneconfig-profile", "version": 1, "settings": {
        "door.open-code": "42"}})";
    const std::string err = File("err");
    const Result r = ShellOnKernel(
        {}, std::string(DPC_DOORPHONECTL) + " provision " + File("profile.json") + " 2>" + err + " & pid=$!\n" +
                "n=0; until grep -q 'Pull out' " + err + " || [ $n -ge 400 ]; do sleep 0.05; n=$((n+1)); done\n" +
                "echo next > \"$EMULATE_CONTROLLER_CONTROL\"\n" + "n=0; until [ \"$(grep -c 'Pull out' " + err +
                ")\" -ge 2 ] || [ $n -ge 400 ]; do sleep 0.05; n=$((n+1)); done\n" + "kill -TERM $pid; wait $pid");
    EXPECT_EQ(r.status, 0) << ReadFile(err);
    EXPECT_EQ(r.out, "/dev/hidraw0: firmware 1.05.2 -> 1.05.2, 1 setting written, OK\n"
                     "/dev/hidraw0: firmware 1.05.2 -> 1.05.2, 1 setting written, OK\n"
                     "Provisioned 2 controllers: 2 OK, 0 failed, 0 interrupted.\n");
}

}  // namespace

namespace {

int Count(const std::string& text, const std::string& what)
{
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

// doorphonectl --wire-log /dev/stdout flash --yes | head -5: the reader goes after five lines; the install
// goes on to its end, restores the defaults once, and only then says that its output was lost.
TEST_F(RealBackendCli, FlashWithItsWireLogOnAClosedPipeFinishesTheInstall)
{
    const std::string d = DPC_DOORPHONECTL;
    Result r = OnKernel({"--trace", File("whole.trace")}, {"flash", "--yes"});
    ASSERT_EQ(r.status, 0) << r.err;
    // The emulator's children inherit SIGPIPE ignored; at a terminal it is not.
    r = ShellOnKernel({"--trace", File("cut.trace")},
                      d + " set door.open-code 5 && { env --default-signal=PIPE " + d +
                          " --wire-log /dev/stdout flash --yes 2>" + File("err") + "; echo $? >" + File("status") +
                          "; } | head -5 >" + File("head") + "; " + d + " get door.open-code && " + d + " show");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(File("status")), "1\n");
    const std::string err = ReadFile(File("err"));
    EXPECT_THAT(err, HasSubstr("cannot write the wire log /dev/stdout: Broken pipe"));
    EXPECT_THAT(err, HasSubstr("the wire log /dev/stdout is incomplete: Broken pipe"));
    EXPECT_THAT(err, HasSubstr("cannot write to standard output: Broken pipe"));
    EXPECT_EQ(Count(ReadFile(File("head")), "\n"), 5);
    // Back to its default (9) and on the carried firmware.
    EXPECT_THAT(r.out, ::testing::StartsWith("door.open-code = \"5\"\n9\n"));
    EXPECT_THAT(r.out, HasSubstr("Firmware     2.01.0"));
    // Every chunk and one restore, as in the whole install, plus the set before it.
    EXPECT_EQ(Count(ReadFile(File("cut.trace")), "set feature"),
              Count(ReadFile(File("whole.trace")), "set feature") + 1);
}

// Ctrl+C, SIGTERM, or the hang-up of a dropped SSH session in the middle of the image: the chunk under way
// finishes, none follows, the message says where the controller is, and the record has the line.
TEST_F(RealBackendCli, ASignalMidFlashStopsTheStreamAndSaysWhereTheControllerIs)
{
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(sig));
        std::filesystem::remove(File("wire.log"));
        std::filesystem::remove(File("record.log"));
        std::filesystem::remove(File("pid"));
        RunningProgram p({DPC_EMULATOR, "--apply", "latency 30", "--", "/bin/sh", "-c",
                          "echo $$ >" + File("pid") + "; exec " + DPC_DOORPHONECTL + " --wire-log " + File("wire.log") +
                              " flash --yes --log " + File("record.log")},
                         dir.string());
        ASSERT_TRUE(p.Started());
        ASSERT_TRUE(
            RunningProgram::AwaitFile(File("wire.log"), [](const std::string& w) { return Count(w, "SET 05") >= 10; }));
        kill(std::stoi(ReadFile(File("pid"))), sig);
        const Result r = p.Finish();
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_THAT(r.err, HasSubstr("stopped during programming"));
        EXPECT_THAT(r.err, HasSubstr("may still wait in download mode"));
        const std::string wire = ReadFile(File("wire.log"));
        EXPECT_LT(Count(wire, "SET 05"), 1000) << "the stream ended, far from the image's end";
        EXPECT_EQ(Count(wire, " ok\n"), Count(wire, "\n")) << "nothing half sent";
        const std::string record = ReadFile(File("record.log"));
        EXPECT_EQ(Count(record, "\n"), 1);
        EXPECT_THAT(record, HasSubstr("/dev/hidraw0: firmware 1.05.2 -> unknown, 0 settings written, INTERRUPTED: "
                                      "stopped during programming"));
    }
}

// Stopped just after the controller took the last line: it restarts on the new firmware all the same. The
// record says so, on the emulator and on a simulated unit kept in a state file, whose state matches the
// message after the program has ended; and a simulated unit takes no lock file anywhere.
TEST_F(RealBackendCli, AStopAfterTheLastLineLeavesRecordAndStateAsTheMessageSays)
{
    std::filesystem::create_directory(File("locks"));
    const std::vector<std::vector<std::string>> runs = {
        {DPC_EMULATOR, "--", DPC_DOORPHONECTL, "flash", "--yes", "--log", File("emulated.log")},
        {DPC_DOORPHONECTL, "--simulate=" + File("state.json"), "flash", "--yes", "--log", File("simulated.log")},
    };
    for (const std::vector<std::string>& run : runs) {
        SCOPED_TRACE(run.back());
        RunningProgram p(run, dir.string());
        ASSERT_TRUE(p.Started());
        ASSERT_TRUE(RunningProgram::AwaitFile(
            p.ErrPath(), [](const std::string& e) { return e.find("Programming complete") != std::string::npos; }));
        p.Signal(SIGINT);  // which the emulator passes on
        const Result r = p.Finish();
        EXPECT_EQ(r.status, 1);
        EXPECT_THAT(r.err, HasSubstr("its defaults are not restored"));
        EXPECT_THAT(ReadFile(run.back()),
                    HasSubstr("firmware 1.05.2 -> 2.01.0, 0 settings written, INTERRUPTED: stopped "));
    }
    const Result now = Run({DPC_DOORPHONECTL, "--simulate=" + File("state.json"), "show"});
    EXPECT_THAT(now.out, HasSubstr("Firmware     2.01.0"));

    setenv("DOORPHONECONFIG_LOCK_DIR", File("locks").c_str(), 1);
    const Result set = Run({DPC_DOORPHONECTL, "--simulate=" + File("state.json"), "set", "door.open-code", "5"});
    const Result plain = Run({DPC_DOORPHONECTL, "--simulate", "set", "door.open-code", "5"});
    unsetenv("DOORPHONECONFIG_LOCK_DIR");
    EXPECT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(plain.status, 0) << plain.err;
    EXPECT_TRUE(std::filesystem::is_empty(File("locks")));
}

// The same in the middle of an import: what was written and what was not is said, and each detail line was
// out before its transfer, even when the run is killed outright.
TEST_F(RealBackendCli, ASignalMidImportSaysWhatWasWritten)
{
    std::ofstream(File("profile.json")) << R"({"format": "doorphoneconfig-profile", "version": 1, "settings": {
        "audio.speaker-volume": "7", "door.open-code": "42", "door.relay-time": "10 Seconds",
        "maintenance.dtmf-password": "4321", "audio.dsp": "Full Duplex without Noise Reduction"}})";
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGKILL}) {
        SCOPED_TRACE(strsignal(sig));
        std::filesystem::remove(File("wire.log"));
        std::filesystem::remove(File("pid"));
        RunningProgram p({DPC_EMULATOR, "--apply", "latency 200", "--", "/bin/sh", "-c",
                          "echo $$ >" + File("pid") + "; exec " + DPC_DOORPHONECTL + " --wire-log " + File("wire.log") +
                              " import " + File("profile.json")},
                         dir.string());
        ASSERT_TRUE(p.Started());
        ASSERT_TRUE(
            RunningProgram::AwaitFile(File("wire.log"), [](const std::string& w) { return Count(w, "SET 03") >= 2; }));
        kill(std::stoi(ReadFile(File("pid"))), sig);
        const Result r = p.Finish();
        const int written = Count(ReadFile(File("wire.log")), "SET 03");
        EXPECT_LT(written, 5) << "stopped before the end";
        // Each line said before its transfer went out.
        EXPECT_GE(Count(r.out, "set "), written);
        if (sig == SIGKILL) {
            continue;
        }
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_THAT(r.err, ::testing::MatchesRegex("doorphonectl: stopped before [a-z.-]+; already written: .*; "
                                                   "not written: [a-z., -]+\n"));
        EXPECT_EQ(Count(r.out, "set "), written) << r.out;
        EXPECT_EQ(Count(r.err, "= \""), written) << "each written setting named";
    }
}

TEST_F(RealBackendCli, ARefusedBootReportEndsTheInstallBeforeAnyChunk)
{
    // Status, settings and string pool are read first; the fourth transfer is the boot report.
    const Result r = OnKernel({"--apply", "fail 4 epipe"},
                              {"--wire-log", File("wire.log"), "flash", "--yes", "--log", File("record.log")});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("the controller refused the boot report that starts programming: "));
    EXPECT_THAT(r.err, HasSubstr("Broken pipe; no firmware was sent, and it keeps its old one"));
    const std::string wire = ReadFile(File("wire.log"));
    EXPECT_THAT(wire, HasSubstr("SET 02 41"));
    EXPECT_EQ(Count(wire, "SET 05"), 0);
    EXPECT_THAT(ReadFile(File("record.log")), HasSubstr("FAILED: the controller refused the boot report"));
}

TEST_F(RealBackendCli, ASettingsAnswerOfAnotherReportIsAFailedRead)
{
    std::string answer = "answer 4 05";
    for (int i = 1; i < 63; ++i) {
        answer += " 00";
    }
    const Result r = OnKernel({"--apply", answer}, {"show"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("did not answer the settings read: the device answered with report 5 where report 4 "
                                 "was asked for"));
}

TEST_F(RealBackendCli, AShortReadIsLoggedAsTheBytesThatCameBack)
{
    const Result r = OnKernel({"--apply", "answer 4 04 20 10"}, {"--wire-log", File("wire.log"), "show"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(ReadFile(File("wire.log")), HasSubstr("\nGET 04 20 10 fail\n"));
}

// Two units on the bench, one at a time, and nobody reading the result lines: the first is finished and
// recorded, and the second is not started.
TEST_F(RealBackendCli, ProvisionWithItsOutputLostStopsAfterTheUnitUnderWay)
{
    std::ofstream(File("profile.json")) << R"({"format": "doorphoneconfig-profile", "version": 1, "settings": {
        "door.open-code": "42"}})";
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    close(pipeFds[0]);
    const Result r = RunProgram({DPC_EMULATOR, "--apply", "attach", "--", "env", "--default-signal=PIPE",
                                 DPC_DOORPHONECTL, "--wire-log", File("wire.log"), "provision", File("profile.json"),
                                 "--jobs", "1", "--log", File("record.log")},
                                dir.string(), {"", pipeFds[1]});
    close(pipeFds[1]);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_THAT(r.err, HasSubstr("cannot write to standard output: Broken pipe"));
    const std::string record = ReadFile(File("record.log"));
    EXPECT_EQ(Count(record, "\n"), 1);
    EXPECT_THAT(record, HasSubstr("/dev/hidraw0: firmware 1.05.2 -> 1.05.2, 1 setting written, OK"));
    EXPECT_EQ(Count(ReadFile(File("wire.log")), "SET 03"), 1);
}

// A whole bench at once on the kernel's nodes: eight units each as it would be alone, a failing and a pulled-out
// unit that end alone, and a stop that leaves every unit stated.
TEST_F(RealBackendCli, ProvisionTakesAWholeBenchAtOnce)
{
    std::ofstream(File("profile.json")) << R"({"format": "doorphoneconfig-profile", "version": 1, "settings": {
        "door.open-code": "42", "audio.speaker-volume": "7"}})";
    Result r = OnKernel({}, {"--wire-log", File("alone.log"), "provision", File("profile.json"), "--flash", "--once"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string alone = Untagged(ReadFile(File("alone.log")));

    std::vector<std::string> eight;
    for (int i = 0; i < 7; ++i) {
        eight.insert(eight.end(), {"--apply", "attach"});
    }
    r = OnKernel(eight, {"--wire-log", File("bench.log"), "provision", File("profile.json"), "--flash", "--count", "8",
                         "--log", File("record.log")});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> lines = LinesOf(r.out);
    ASSERT_EQ(lines.size(), 9u) << r.out;
    std::set<std::string> paths;
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_THAT(lines[i],
                    testing::MatchesRegex("/dev/hidraw[0-9]+: firmware 1.05.2 -> 2.01.0, 2 settings written, OK"));
        paths.insert(lines[i].substr(0, lines[i].find(':')));
    }
    EXPECT_EQ(paths.size(), 8u);
    EXPECT_EQ(lines[8], "Provisioned 8 controllers: 8 OK, 0 failed, 0 interrupted.");
    const std::map<std::string, std::string> wire = WireByUnit(ReadFile(File("bench.log")));
    EXPECT_EQ(wire.size(), 8u);
    for (const auto& [unit, sent] : wire) {
        EXPECT_EQ(sent, alone) << unit;
    }
    const std::vector<std::string> record = LinesOf(ReadFile(File("record.log")));
    ASSERT_EQ(record.size(), 8u);
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_THAT(record[i], testing::EndsWith(" provision " + File("profile.json") + " " + lines[i]));
    }

    // Four at 1 ms a transfer: the second fails mid-install, the third is pulled out mid-install.
    const std::string d = DPC_DOORPHONECTL;
    // Until the wire log `log` shows the installs well under way.
    auto waitForInstalls = [&](const std::string& log) {
        return "n=0; until [ \"$(grep -c 'SET 05' " + log +
               " 2>/dev/null)\" -ge 600 ] || [ $n -ge 600 ]; do "
               "sleep 0.05; n=$((n+1)); done\n";
    };
    r = ShellOnKernel({"--apply", "latency 1", "--apply", "attach", "--apply", "fail 900", "--apply", "attach",
                       "--apply", "fail 700 pullout", "--apply", "attach"},
                      d + " --wire-log " + File("four.log") + " provision " + File("profile.json") +
                          " --flash --count 4 >" + File("four.out") + " 2>" + File("four.err"));
    EXPECT_EQ(r.status, 1) << ReadFile(File("four.err"));
    lines = LinesOf(ReadFile(File("four.out")));
    ASSERT_EQ(lines.size(), 5u) << ReadFile(File("four.out"));
    int ok = 0, failed = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        ok += lines[i].find("firmware 1.05.2 -> 2.01.0, 2 settings written, OK") != std::string::npos;
        failed += lines[i].find("firmware 1.05.2 -> unknown, 0 settings written, FAILED: programming failed") !=
                  std::string::npos;
    }
    EXPECT_EQ(ok, 2) << ReadFile(File("four.out"));
    EXPECT_EQ(failed, 2) << ReadFile(File("four.out"));
    EXPECT_EQ(lines[4], "Provisioned 4 controllers: 2 OK, 2 failed, 0 interrupted.");

    // A stop while three are programming: each says where it was left.
    r = ShellOnKernel({"--apply", "latency 1", "--apply", "attach", "--apply", "attach"},
                      d + " --wire-log " + File("three.log") + " provision " + File("profile.json") +
                          " --flash --log " + File("stopped.log") + " >" + File("stop.out") + " 2>" + File("stop.err") +
                          " & pid=$!\n" + waitForInstalls(File("three.log")) + "kill -TERM $pid; wait $pid");
    EXPECT_EQ(r.status, 1) << ReadFile(File("stop.err"));
    lines = LinesOf(ReadFile(File("stop.out")));
    ASSERT_EQ(lines.size(), 4u) << ReadFile(File("stop.out"));
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_THAT(lines[i], HasSubstr("firmware 1.05.2 -> unknown, 0 settings written, INTERRUPTED: stopped during "
                                        "programming; the controller did not finish programming"));
    }
    EXPECT_EQ(lines[3], "Provisioned 3 controllers: 0 OK, 0 failed, 3 interrupted.");
    EXPECT_EQ(LinesOf(ReadFile(File("stopped.log"))).size(), 3u);
}

}  // namespace

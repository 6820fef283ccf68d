// doorphonectl on the real hidapi/udev backend, with the controller emulated at the kernel's HID interface:
// the same commands as on the virtual controller's platform layer must put the same bytes on the wire, and
// discovery, the kernel's errors and a refused node must reach the user as they would on a real machine.
#include "resources/version.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/cli/process.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class RealBackendCli : public ::testing::Test {
protected:
    std::filesystem::path dir;

    void SetUp() override
    {
        char pattern[] = "/tmp/dpc-real-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        std::filesystem::permissions(dir, std::filesystem::perms::all);  // for the unprivileged case
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string File(const std::string& name) const { return (dir / name).string(); }

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

    // Each controller node listed once, though the first one's path comes twice from hidapi.
    const Result list = OnKernel({"--crowded"}, {"list"});
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(list.out, "/dev/hidraw2\t0x7410\taccessible\n/dev/hidraw3\t0x7410\taccessible\n");
}

TEST_F(RealBackendCli, TheKernelsErrorsReachTheUserInTheSystemsWords)
{
    // Transfers of a set: status, settings, string pool, then the parameter report.
    Result r = OnKernel({"--apply", "fail 4 epipe"}, {"set", "audio.dsp", "1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("refused the report for audio.dsp"));
    EXPECT_THAT(r.err, HasSubstr("Broken pipe"));

    r = OnKernel({"--apply", "fail 1 etimedout"}, {"show"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("/dev/hidraw0 does not answer the status read"));
    EXPECT_THAT(r.err, HasSubstr("timed out"));

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
    std::vector<std::string> args{DPC_AS_UNPRIVILEGED, DPC_EMULATOR, "--node-mode", "0000", "--trace", File("trace"),
                                  "--", DPC_DOORPHONECTL, "show"};
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

}  // namespace

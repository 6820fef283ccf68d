// The demo's text commands: each one's effect, and bad lines changing nothing.
#include "sim/demo_commands.h"
#include "sim/line_reader.h"

#include "device/device_link.h"
#include "device/firmware_stream.h"
#include "device/reports.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace {

TEST(DemoCommands, EachCommandActsOnTheController)
{
    sim::VirtualController c;
    EXPECT_FALSE(sim::ApplyDemoCommand(c, "unplug"));
    EXPECT_FALSE(c.IsPlugged());
    EXPECT_FALSE(sim::ApplyDemoCommand(c, "  plug  "));
    EXPECT_TRUE(c.IsPlugged());
    EXPECT_FALSE(sim::ApplyDemoCommand(c, "station 15"));
    EXPECT_EQ(c.GetMemory().station, 0x15);
    EXPECT_FALSE(sim::ApplyDemoCommand(c, "station 0"));
    EXPECT_EQ(c.GetMemory().station, 0x00);
    EXPECT_FALSE(sim::ApplyDemoCommand(c, "level 255"));
    EXPECT_EQ(c.GetMemory().level, 255);
    EXPECT_FALSE(sim::ApplyDemoCommand(c, "latency 3"));
    EXPECT_EQ(c.Latency(), std::chrono::milliseconds(3));
    EXPECT_FALSE(sim::ApplyDemoCommand(c, "latency 0"));
    EXPECT_FALSE(sim::ApplyDemoCommand(c, ""));

    DeviceLink link(c);
    ASSERT_TRUE(link.FindDevice());
    EXPECT_FALSE(sim::ApplyDemoCommand(c, "fail 2"));
    EXPECT_TRUE(link.GetShortReport(1));
    EXPECT_FALSE(link.GetShortReport(1));
    EXPECT_TRUE(link.GetShortReport(1));
}

TEST(DemoCommands, AFailureCanTakeTheKernelsWayOfFailingAndAGetCanBeAnsweredShort)
{
    sim::VirtualController c;
    std::unique_ptr<sim::Connection> connection = c.Connect(c.DevicePath());
    ASSERT_NE(connection, nullptr);
    uint8_t report[8] = {1};
    std::string text;
    for (auto [line, errnum] : {std::pair{"fail 1 epipe", EPIPE}, {"fail 1 etimedout", ETIMEDOUT}, {"fail 1", EIO}}) {
        ASSERT_FALSE(sim::ApplyDemoCommand(c, line)) << line;
        EXPECT_EQ(connection->GetFeature(report, sizeof report, text), -1) << line;
        EXPECT_EQ(connection->LastErrno(), errnum) << line;
        EXPECT_EQ(text, std::strerror(errnum));
    }
    EXPECT_EQ(connection->GetFeature(report, sizeof report, text), 8);

    ASSERT_FALSE(sim::ApplyDemoCommand(c, "answer 1 01 ff"));
    report[0] = 1;
    EXPECT_EQ(connection->GetFeature(report, sizeof report, text), 2);
    EXPECT_EQ(report[1], 0xFF);

    c.Unplug();
    EXPECT_EQ(connection->GetFeature(report, sizeof report, text), -1);
    EXPECT_EQ(connection->LastErrno(), ENODEV);
}

TEST(DemoCommands, BadLinesAreRefusedAndChangeNothing)
{
    sim::VirtualController c;
    const sim::Memory before = c.GetMemory();
    for (const char* line : {"dance", "plug now", "station", "station 1FF", "station zz", "level 256", "level -1",
                             "level 12x", "latency", "latency fast", "fail 0", "fail", "station 73 1", "fail 1 eagain",
                             "fail 1 epipe x", "answer", "answer 4 zz", "answer 0 01", "answer 256"}) {
        const auto error = sim::ApplyDemoCommand(c, line);
        ASSERT_TRUE(error.has_value()) << line;
        EXPECT_FALSE(error->empty());
    }
    EXPECT_TRUE(c.IsPlugged());
    DeviceLink link(c);
    ASSERT_TRUE(link.FindDevice());
    EXPECT_TRUE(link.GetShortReport(1)) << "no failure or answer was queued";
    EXPECT_EQ(c.GetMemory().station, before.station);
    EXPECT_EQ(c.GetMemory().level, before.level);
}

}  // namespace

namespace {

TEST(LineReader, KeepsAtMostOneBoundedLineAndDropsLongerOnesWhole)
{
    std::vector<std::string> lines;
    int tooLong = 0;
    sim::LineReader reader([&](const std::string& l) { lines.push_back(l); }, [&] { ++tooLong; });
    reader.Feed("plug\nlev");
    reader.Feed("el 3\n");
    const std::string chunk(1 << 20, 'x');
    for (int i = 0; i < 64; ++i) {  // 64 MiB without a newline
        reader.Feed(chunk);
    }
    reader.Feed("\nunplug\n");
    std::string exactly(sim::LineReader::kLongestLine, 'y');
    reader.Feed(exactly + "\n");
    reader.Feed("last");
    reader.Finish();
    EXPECT_EQ(tooLong, 1);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "plug");
    EXPECT_EQ(lines[1], "level 3");
    EXPECT_EQ(lines[2], "unplug");
    EXPECT_EQ(lines[3], exactly);
    EXPECT_EQ(lines[4], "last");
}

}  // namespace

namespace {

// The bench: units one after another and side by side, each with its own path and memory, and a monitor
// that hears every one of them.
TEST(DemoCommands, NextAttachAndSelectMakeABenchOfUnits)
{
    sim::VirtualController c;
    std::unique_ptr<HotplugMonitor> monitor = c.CreateMonitor();
    ASSERT_FALSE(sim::ApplyDemoCommand(c, "station 15"));
    ASSERT_FALSE(sim::ApplyDemoCommand(c, "next 1.04.1"));
    EXPECT_EQ(c.DevicePath(), "virtual:7410/1");
    EXPECT_EQ(FormatFirmwareVersion(DecodeFirmwareVersion(c.GetMemory().firmware1, c.GetMemory().firmware2)), "1.04.1");
    EXPECT_NE(c.GetMemory().station, 0x15) << "a new unit comes with the factory memory";
    ASSERT_FALSE(sim::ApplyDemoCommand(c, "attach"));
    const std::vector<HidDeviceInfo> listed = c.Enumerate(controller::kVendorId);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].path, "virtual:7410/1");
    EXPECT_EQ(listed[1].path, "virtual:7410/2");

    std::vector<std::pair<HotplugAction, std::string>> heard;
    for (const HotplugEvent& e : monitor->ReadEvents()) {
        heard.emplace_back(e.action, e.devicePath);
    }
    EXPECT_EQ(heard, (std::vector<std::pair<HotplugAction, std::string>>{{HotplugAction::Remove, "virtual:7410/0"},
                                                                          {HotplugAction::Add, "virtual:7410/1"},
                                                                          {HotplugAction::Add, "virtual:7410/2"}}));

    // Each connection reaches its own unit, and the commands act on the selected one.
    ASSERT_FALSE(sim::ApplyDemoCommand(c, "select virtual:7410/1"));
    ASSERT_FALSE(sim::ApplyDemoCommand(c, "unplug"));
    EXPECT_EQ(c.Enumerate(controller::kVendorId).size(), 1u);
    EXPECT_EQ(c.Connect("virtual:7410/1"), nullptr);
    EXPECT_NE(c.Connect("virtual:7410/2"), nullptr);
    EXPECT_EQ(c.MemoryOf("virtual:7410/0")->station, 0x15);
    EXPECT_FALSE(c.MemoryOf("virtual:7410/9"));

    for (const char* line : {"next 16.00.0", "next 1.256", "next 1.05.16", "next 1.05 x", "attach v2",
                             "select", "select virtual:7410/9", "select a b"}) {
        EXPECT_TRUE(sim::ApplyDemoCommand(c, line)) << line;
    }
    EXPECT_EQ(c.UnitPaths().size(), 3u);
}

// A unit pulled out by hand during its restart after programming stays out.
TEST(DemoCommands, AUnitPulledOutDuringItsRestartStaysOut)
{
    sim::VirtualController c;
    c.SetRebootTimes(std::chrono::milliseconds(0), std::chrono::milliseconds(50));
    DeviceLink link(c);
    ASSERT_TRUE(link.FindDevice());
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> devnull(std::fopen("/dev/null", "w"), &std::fclose);
    FirmwareStream stream(link, [](const std::string&) {}, devnull.get());
    ASSERT_TRUE(stream.SendBootReport());
    ASSERT_TRUE(stream.StreamFirmwareImage([](uint32_t, uint32_t) {}));
    c.Unplug();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(c.IsPlugged());
    EXPECT_EQ(c.ProgrammingCount(), 1);
}

}  // namespace

TEST(Header, FirmwareVersionFromText)
{
    EXPECT_EQ(EncodeFirmwareVersion(*ParseFirmwareVersion("1.05.2")), (std::array<uint8_t, 2>{0x10, 0x52}));
    EXPECT_EQ(EncodeFirmwareVersion(*ParseFirmwareVersion("2.01")), (std::array<uint8_t, 2>{0x20, 0x10}));
    EXPECT_EQ(FormatFirmwareVersion(*ParseFirmwareVersion("15.255.15")), "15.255.15");
    for (const char* bad : {"", "1", "1.", ".05", "1.05.", "a.05", "1.05.2.1", "-1.05", "16.00", "1.256", "1.05.16",
                            " 1.05", "1.05 ", "1.+5"}) {
        EXPECT_FALSE(ParseFirmwareVersion(bad)) << bad;
    }
    EXPECT_TRUE(IsOlder(*ParseFirmwareVersion("1.05.2"), *ParseFirmwareVersion("2.01.0")));
    EXPECT_TRUE(IsOlder(*ParseFirmwareVersion("2.00.9"), *ParseFirmwareVersion("2.01.0")));
    EXPECT_TRUE(IsOlder(*ParseFirmwareVersion("2.01.0"), *ParseFirmwareVersion("2.01.1")));
    EXPECT_FALSE(IsOlder(*ParseFirmwareVersion("2.01.0"), *ParseFirmwareVersion("2.01.0")));
    EXPECT_FALSE(IsOlder(*ParseFirmwareVersion("3.00.0"), *ParseFirmwareVersion("2.99.9")));
}

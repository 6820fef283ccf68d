// The virtual controller's text commands: each one's effect, the unit they act on, and bad lines changing nothing.
#include "sim/controller_commands.h"
#include "sim/line_reader.h"

#include "device/device_link.h"
#include "device/firmware_stream.h"
#include "device/reports.h"

#include <gtest/gtest.h>

#include <tuple>

#include <cerrno>
#include <cstring>
#include <thread>

namespace {

TEST(ControllerCommands, EachCommandActsOnTheController)
{
    sim::VirtualController c;
    sim::ControllerCommands commands(c);
    EXPECT_FALSE(commands.Apply("unplug"));
    EXPECT_FALSE(c.FirstUnit().IsPlugged());
    EXPECT_FALSE(commands.Apply("  plug  "));
    EXPECT_TRUE(c.FirstUnit().IsPlugged());
    EXPECT_FALSE(commands.Apply("station 15"));
    EXPECT_EQ(c.FirstUnit().GetMemory().station, 0x15);
    EXPECT_FALSE(commands.Apply("station 0"));
    EXPECT_EQ(c.FirstUnit().GetMemory().station, 0x00);
    EXPECT_FALSE(commands.Apply("level 255"));
    EXPECT_EQ(c.FirstUnit().GetMemory().level, 255);
    EXPECT_FALSE(commands.Apply("latency 3"));
    EXPECT_EQ(c.FirstUnit().Latency(), std::chrono::milliseconds(3));
    EXPECT_FALSE(commands.Apply("latency 0"));
    EXPECT_FALSE(commands.Apply(""));

    DeviceLink link(c);
    ASSERT_TRUE(link.FindDevice());
    EXPECT_FALSE(commands.Apply("fail 2"));
    EXPECT_TRUE(link.GetShortReport(1));
    EXPECT_FALSE(link.GetShortReport(1));
    EXPECT_TRUE(link.GetShortReport(1));
}

TEST(ControllerCommands, AFailureCanTakeTheKernelsWayOfFailingAndAGetCanBeAnsweredShort)
{
    sim::VirtualController c;
    sim::ControllerCommands commands(c);
    std::unique_ptr<sim::Connection> connection = c.Connect(c.FirstUnit().Path());
    ASSERT_NE(connection, nullptr);
    uint8_t report[8] = {1};
    std::string text;
    // In Linux's words on every system (Windows' C runtime has none for ETIMEDOUT).
    const std::tuple<const char*, int, const char*> kinds[] = {{"fail 1 epipe", EPIPE, "Broken pipe"},
                                                               {"fail 1 etimedout", ETIMEDOUT, "Connection timed out"},
                                                               {"fail 1", EIO, "Input/output error"}};
    for (auto [line, errnum, words] : kinds) {
        ASSERT_FALSE(commands.Apply(line)) << line;
        EXPECT_EQ(connection->GetFeature(report, sizeof report, text), -1) << line;
        EXPECT_EQ(connection->LastErrno(), errnum) << line;
        EXPECT_EQ(text, words);
    }
    EXPECT_EQ(connection->GetFeature(report, sizeof report, text), 8);

    ASSERT_FALSE(commands.Apply("answer 1 01 ff"));
    report[0] = 1;
    EXPECT_EQ(connection->GetFeature(report, sizeof report, text), 2);
    EXPECT_EQ(report[1], 0xFF);

    // A pull-out at a chosen transfer: the one before it answers, that one finds the controller gone.
    ASSERT_FALSE(commands.Apply("fail 2 pullout"));
    EXPECT_EQ(connection->GetFeature(report, sizeof report, text), 8);
    EXPECT_TRUE(c.FirstUnit().IsPlugged());
    EXPECT_EQ(connection->GetFeature(report, sizeof report, text), -1);
    EXPECT_EQ(connection->LastErrno(), ENODEV);
    EXPECT_FALSE(c.FirstUnit().IsPlugged());
}

TEST(ControllerCommands, BadLinesAreRefusedAndChangeNothing)
{
    sim::VirtualController c;
    sim::ControllerCommands commands(c);
    const sim::Memory before = c.FirstUnit().GetMemory();
    for (const char* line : {"dance", "plug now", "station", "station 1FF", "station zz", "level 256", "level -1",
                             "level 12x", "latency", "latency fast", "fail 0", "fail", "station 73 1", "fail 1 eagain",
                             "fail 1 epipe x", "answer", "answer 4 zz", "answer 0 01", "answer 256"}) {
        const auto error = commands.Apply(line);
        ASSERT_TRUE(error.has_value()) << line;
        EXPECT_FALSE(error->empty());
    }
    EXPECT_TRUE(c.FirstUnit().IsPlugged());
    DeviceLink link(c);
    ASSERT_TRUE(link.FindDevice());
    EXPECT_TRUE(link.GetShortReport(1)) << "no failure or answer was queued";
    EXPECT_EQ(c.FirstUnit().GetMemory().station, before.station);
    EXPECT_EQ(c.FirstUnit().GetMemory().level, before.level);
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
TEST(ControllerCommands, NextAttachAndSelectMakeABenchOfUnits)
{
    sim::VirtualController c;
    sim::ControllerCommands commands(c);
    std::unique_ptr<HotplugMonitor> monitor = c.CreateMonitor();
    ASSERT_FALSE(commands.Apply("station 15"));
    ASSERT_FALSE(commands.Apply("next 1.04.1"));
    EXPECT_EQ(commands.Unit().Path(), "virtual:7410/1");
    EXPECT_EQ(FormatFirmwareVersion(
                  DecodeFirmwareVersion(commands.Unit().GetMemory().firmware1, commands.Unit().GetMemory().firmware2)),
              "1.04.1");
    EXPECT_NE(commands.Unit().GetMemory().station, 0x15) << "a new unit comes with the factory memory";
    ASSERT_FALSE(commands.Apply("attach"));
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
    ASSERT_FALSE(commands.Apply("select virtual:7410/1"));
    ASSERT_FALSE(commands.Apply("unplug"));
    EXPECT_EQ(c.Enumerate(controller::kVendorId).size(), 1u);
    EXPECT_EQ(c.Connect("virtual:7410/1"), nullptr);
    EXPECT_NE(c.Connect("virtual:7410/2"), nullptr);
    EXPECT_EQ(c.MemoryOf("virtual:7410/0")->station, 0x15);
    EXPECT_FALSE(c.MemoryOf("virtual:7410/9"));

    for (const char* line : {"next 16.00.0", "next 1.256", "next 1.05.16", "next 1.05 x", "attach v2", "select",
                             "select virtual:7410/9", "select a b"}) {
        EXPECT_TRUE(commands.Apply(line)) << line;
    }
    EXPECT_EQ(c.UnitPaths().size(), 3u);
}

// next replaces the unit the commands act on, which select chose, not the one that came last; and the
// commands' choice is their own: another reader, or a call on the bench, leaves it alone.
TEST(ControllerCommands, NextReplacesTheChosenUnitAndEachReaderKeepsItsOwnChoice)
{
    sim::VirtualController c;
    sim::ControllerCommands commands(c);
    sim::ControllerCommands other(c);
    ASSERT_FALSE(commands.Apply("attach"));
    ASSERT_FALSE(commands.Apply("select virtual:7410/0"));
    ASSERT_FALSE(other.Apply("attach"));
    c.Attach();
    EXPECT_EQ(commands.Unit().Path(), "virtual:7410/0");
    EXPECT_EQ(other.Unit().Path(), "virtual:7410/2");
    ASSERT_FALSE(commands.Apply("level 7"));
    EXPECT_EQ(c.FirstUnit().GetMemory().level, 7);
    EXPECT_NE(c.Unit("virtual:7410/3").GetMemory().level, 7);

    ASSERT_FALSE(commands.Apply("next"));
    EXPECT_EQ(commands.Unit().Path(), "virtual:7410/4");
    EXPECT_FALSE(c.FirstUnit().IsPlugged());
    for (const char* path : {"virtual:7410/1", "virtual:7410/2", "virtual:7410/3", "virtual:7410/4"}) {
        EXPECT_TRUE(c.Unit(path).IsPlugged()) << path;
    }
    ASSERT_FALSE(other.Apply("unplug"));
    EXPECT_FALSE(c.Unit("virtual:7410/2").IsPlugged());
    EXPECT_TRUE(c.Unit("virtual:7410/4").IsPlugged());

    // A reader made on a bench of several starts with the unit that came last.
    EXPECT_EQ(sim::ControllerCommands(c).Unit().Path(), "virtual:7410/4");
}

// A unit pulled out by hand during its restart after programming stays out.
TEST(ControllerCommands, AUnitPulledOutDuringItsRestartStaysOut)
{
    sim::VirtualController c;
    c.FirstUnit().SetRebootTimes(std::chrono::milliseconds(0), std::chrono::milliseconds(50));
    DeviceLink link(c);
    ASSERT_TRUE(link.FindDevice());
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> devnull(std::fopen("/dev/null", "w"), &std::fclose);
    FirmwareStream stream(
        link, [](const std::string&) {}, devnull.get());
    ASSERT_TRUE(stream.SendBootReport());
    ASSERT_TRUE(stream.StreamFirmwareImage([](uint32_t, uint32_t) {}));
    c.FirstUnit().Unplug();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(c.FirstUnit().IsPlugged());
    EXPECT_EQ(c.FirstUnit().ProgrammingCount(), 1);
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

// The demo's text commands: each one's effect, and bad lines changing nothing.
#include "sim/demo_commands.h"
#include "sim/line_reader.h"

#include "device/device_link.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

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

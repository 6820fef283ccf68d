// The demo's text commands: each one's effect, and bad lines changing nothing.
#include "sim/demo_commands.h"

#include "device/device_link.h"

#include <gtest/gtest.h>

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

TEST(DemoCommands, BadLinesAreRefusedAndChangeNothing)
{
    sim::VirtualController c;
    const sim::Memory before = c.GetMemory();
    for (const char* line : {"dance", "plug now", "station", "station 1FF", "station zz", "level 256", "level -1",
                             "level 12x", "latency", "latency fast", "fail 0", "fail", "station 73 1"}) {
        const auto error = sim::ApplyDemoCommand(c, line);
        ASSERT_TRUE(error.has_value()) << line;
        EXPECT_FALSE(error->empty());
    }
    EXPECT_TRUE(c.IsPlugged());
    EXPECT_EQ(c.GetMemory().station, before.station);
    EXPECT_EQ(c.GetMemory().level, before.level);
}

}  // namespace

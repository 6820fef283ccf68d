// The udev monitor sets up (or declines) cleanly, and reading it never blocks.
#include "device/udev_monitor.h"

#include <gtest/gtest.h>

#include <fcntl.h>

namespace {

TEST(UdevMonitor, ReadingWithNothingWaitingReturnsAtOnce)
{
    std::unique_ptr<UdevHotplugMonitor> monitor = UdevHotplugMonitor::Create();
    if (!monitor) {
        GTEST_SKIP() << "no netlink socket for udev events here";
    }
    ASSERT_GE(monitor->Waitable(), 0);
    EXPECT_TRUE(fcntl(monitor->Waitable(), F_GETFL) & O_NONBLOCK);
    EXPECT_TRUE(monitor->ReadEvents().empty());
}

}  // namespace

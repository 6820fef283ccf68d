// Device paths compare as the platform names them: exactly on Linux, without case on Windows.
#include "device/device_path.h"

#include <gtest/gtest.h>

namespace {

TEST(DevicePath, SamePathIsSame)
{
    EXPECT_TRUE(SameDevicePath("/dev/hidraw3", "/dev/hidraw3"));
    EXPECT_TRUE(SameDevicePath("", ""));
}

TEST(DevicePath, OtherOrLongerPathIsNotSame)
{
    EXPECT_FALSE(SameDevicePath("/dev/hidraw3", "/dev/hidraw4"));
    EXPECT_FALSE(SameDevicePath("/dev/hidraw3", "/dev/hidraw31"));
    EXPECT_FALSE(SameDevicePath("/dev/hidraw3", ""));
}

#ifdef _WIN32
// SetupAPI and device notifications spell the same interface in different cases.
TEST(DevicePath, WindowsPathsCompareWithoutCase)
{
    EXPECT_TRUE(SameDevicePath(R"(\\?\hid#vid_2e5a&pid_7410&mi_00#0&t7410-000001&0&0#{4d1e55b2-f16f})",
                               R"(\\?\HID#VID_2E5A&PID_7410&MI_00#0&t7410-000001&0&0#{4d1e55b2-f16f})"));
    EXPECT_FALSE(SameDevicePath(R"(\\?\hid#vid_2e5a&pid_7410&mi_00#x)", R"(\\?\hid#vid_2e5a&pid_7410&mi_01#x)"));
}
#else
// Linux names are case-sensitive: two nodes may differ in case alone.
TEST(DevicePath, LinuxPathsCompareExactly)
{
    EXPECT_FALSE(SameDevicePath("/dev/hidraw3", "/dev/HIDRAW3"));
}
#endif

}  // namespace

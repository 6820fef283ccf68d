// Device paths in one spelling: lower case on Windows, where a listing and a notification differ in case
// alone, exactly as given on Linux.
#include "device/device_path.h"

#include <gtest/gtest.h>

namespace {

// Windows spells one interface in several cases; Linux names are case-sensitive: two nodes may differ in case
// alone.
TEST(DevicePath, OneSpellingPerInterfaceOnWindowsExactOnLinux)
{
    const std::string listed =
        R"(\\?\hid#vid_2e5a&pid_7410&mi_00#0&t7410-000001&0&0#{4d1e55b2-f16f-11cf-88cb-001111000030})";
    const std::string notified =
        R"(\\?\HID#VID_2E5A&PID_7410&MI_00#0&T7410-000001&0&0#{4D1E55B2-F16F-11CF-88CB-001111000030})";
    if constexpr (portable::kWindows) {
        EXPECT_EQ(CanonicalDevicePath(notified), listed);
        EXPECT_EQ(CanonicalDevicePath(listed), listed);
        EXPECT_NE(CanonicalDevicePath(R"(\\?\HID#VID_2E5A&PID_7410&MI_01#X)"),
                  CanonicalDevicePath(R"(\\?\hid#vid_2e5a&pid_7410&mi_00#x)"));
    } else {
        EXPECT_EQ(CanonicalDevicePath(notified), notified);
        EXPECT_EQ(CanonicalDevicePath("/dev/HIDRAW3"), "/dev/HIDRAW3");
        EXPECT_EQ(CanonicalDevicePath("virtual:7410/0"), "virtual:7410/0");
    }
}

}  // namespace

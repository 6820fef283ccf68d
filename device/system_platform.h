// The platform the operating system gives: its own HID layer and plug notifications (hidapi and udev on
// Linux, the HID and device-notification calls on Windows), and what it tells a user it refuses. Everything
// above chooses between these and the virtual controller only.
#pragma once

#include "device/hid_platform.h"
#include "device/hotplug.h"

#include <memory>

std::unique_ptr<HidPlatform> CreateSystemHidPlatform();
// Null when no notifications can be had. `platform`: the system platform of CreateSystemHidPlatform whose open
// devices the monitor looks after (on Windows it closes one that Windows asks to remove), or null.
std::unique_ptr<HotplugMonitor> CreateSystemHotplugMonitor(HidPlatform* platform);

// Windows: the HID calls (SetupAPI, hid.dll) and device notifications.
#include "device/device_link.h"
#include "device/system_platform.h"
#include "device/windows_hid_platform.h"
#include "device/windows_hotplug.h"

std::string controller::AccessAdvice(const std::string& path)
{
    return "Found a controller at " + path +
           ", but Windows refuses to open it for this user.\nClose any other "
           "program that may hold it, then plug the controller in again.";
}

std::unique_ptr<HidPlatform> CreateSystemHidPlatform()
{
    return std::make_unique<WindowsHidPlatform>();
}

std::unique_ptr<HotplugMonitor> CreateSystemHotplugMonitor(HidPlatform* platform)
{
    auto* windows = dynamic_cast<WindowsHidPlatform*>(platform);
    return WindowsHotplugMonitor::Create(windows ? windows->Devices() : nullptr);
}

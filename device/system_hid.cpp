#include "device/system_hid.h"

#ifdef _WIN32
#include "device/windows_hid_platform.h"
#include "device/windows_hotplug.h"
#else
#include "device/hidapi_platform.h"
#include "device/udev_monitor.h"
#endif

std::unique_ptr<HidPlatform> CreateSystemHidPlatform()
{
#ifdef _WIN32
    return std::make_unique<WindowsHidPlatform>();
#else
    return std::make_unique<HidapiPlatform>();
#endif
}

std::unique_ptr<HotplugMonitor> CreateSystemHotplugMonitor(HidPlatform* platform)
{
#ifdef _WIN32
    auto* windows = dynamic_cast<WindowsHidPlatform*>(platform);
    return WindowsHotplugMonitor::Create(windows ? windows->Devices() : nullptr);
#else
    (void)platform;
    return UdevHotplugMonitor::Create();
#endif
}

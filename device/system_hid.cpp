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

std::unique_ptr<HotplugMonitor> CreateSystemHotplugMonitor()
{
#ifdef _WIN32
    return WindowsHotplugMonitor::Create();
#else
    return UdevHotplugMonitor::Create();
#endif
}

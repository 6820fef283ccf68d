// Linux: hidapi on hidraw, udev's monitor, and the udev rule that opens the node to the user at the machine.
#include "device/device_link.h"
#include "device/hidapi_platform.h"
#include "device/system_platform.h"
#include "device/udev_monitor.h"

const char* const controller::kUdevRulePath = DPC_UDEV_RULE;

std::string controller::AccessAdvice(const std::string& path)
{
    return "Found a controller at " + path + ", but this user may not open it.\nIt needs the udev rule " +
           kUdevRulePath + ";\nrun \"udevadm control --reload\" as root, then plug the controller in again.";
}

std::unique_ptr<HidPlatform> CreateSystemHidPlatform()
{
    return std::make_unique<HidapiPlatform>();
}

std::unique_ptr<HotplugMonitor> CreateSystemHotplugMonitor(HidPlatform*)
{
    return UdevHotplugMonitor::Create();
}

#include "device/udev_monitor.h"

#include <libudev.h>
#include <unistd.h>

#include <cstring>

std::unique_ptr<UdevHotplugMonitor> UdevHotplugMonitor::Create()
{
    udev* context = udev_new();
    if (context == nullptr) {
        return nullptr;
    }
    // Without a udev daemon nobody re-broadcasts events; listen to the kernel then.
    const char* source = access("/run/udev/control", F_OK) == 0 ? "udev" : "kernel";
    udev_monitor* monitor = udev_monitor_new_from_netlink(context, source);
    if (monitor == nullptr || udev_monitor_filter_add_match_subsystem_devtype(monitor, "hidraw", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor) < 0) {
        if (monitor) {
            udev_monitor_unref(monitor);
        }
        udev_unref(context);
        return nullptr;
    }
    return std::unique_ptr<UdevHotplugMonitor>(new UdevHotplugMonitor(context, monitor));
}

UdevHotplugMonitor::UdevHotplugMonitor(udev* context, udev_monitor* monitor) : udev_(context), monitor_(monitor) {}

UdevHotplugMonitor::~UdevHotplugMonitor()
{
    udev_monitor_unref(monitor_);
    udev_unref(udev_);
}

portable::WaitHandle UdevHotplugMonitor::Waitable() const
{
    return udev_monitor_get_fd(monitor_);
}

std::vector<HotplugEvent> UdevHotplugMonitor::ReadEvents()
{
    std::vector<HotplugEvent> events;
    // The socket is non-blocking: receive until nothing is left.
    while (udev_device* device = udev_monitor_receive_device(monitor_)) {
        HotplugEvent event;
        const char* action = udev_device_get_action(device);
        if (action && std::strcmp(action, "add") == 0) {
            event.action = HotplugAction::Add;
        } else if (action && std::strcmp(action, "remove") == 0) {
            event.action = HotplugAction::Remove;
        }
        const char* node = udev_device_get_devnode(device);
        event.devicePath = node ? node : "";
        events.push_back(std::move(event));
        udev_device_unref(device);
    }
    return events;
}

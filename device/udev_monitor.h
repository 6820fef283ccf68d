// Device-arrival and device-removal notifications for hidraw nodes, from libudev.
#pragma once

#include "device/hotplug.h"

#include <memory>

struct udev;
struct udev_monitor;

class UdevHotplugMonitor : public HotplugMonitor {
public:
    // Null when no monitor can be set up. Listens to the udev daemon's events (rules and permissions are
    // applied by then), or to the kernel's when no daemon runs.
    static std::unique_ptr<UdevHotplugMonitor> Create();
    ~UdevHotplugMonitor() override;
    UdevHotplugMonitor(const UdevHotplugMonitor&) = delete;
    UdevHotplugMonitor& operator=(const UdevHotplugMonitor&) = delete;

    portable::WaitHandle Waitable() const override;
    std::vector<HotplugEvent> ReadEvents() override;

private:
    UdevHotplugMonitor(udev* context, udev_monitor* monitor);
    udev* udev_;
    udev_monitor* monitor_;
};

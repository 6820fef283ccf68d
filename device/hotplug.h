// The narrow interface for device-arrival and device-removal notifications. The udev monitor, the Windows
// device-notification monitor and the virtual controller implement it. A monitor exists for as long as the
// registration does.
#pragma once

#include "portable/wait.h"

#include <string>
#include <vector>

enum class HotplugAction { Add, Remove, Other };

struct HotplugEvent {
    HotplugAction action = HotplugAction::Other;
    std::string devicePath;  // the device node, e.g. /dev/hidraw3
};

class HotplugMonitor {
public:
    virtual ~HotplugMonitor() = default;
    // Ready while events wait (a descriptor on Linux, an event on Windows); the window and the waits of the
    // command line watch it. kNoWaitHandle when the monitor could not be set up.
    virtual portable::WaitHandle Waitable() const = 0;
    // Every event that waits, in arrival order; never blocks.
    virtual std::vector<HotplugEvent> ReadEvents() = 0;
};

// The narrow interface for device-arrival and device-removal notifications. The udev monitor and the
// virtual controller implement it. A monitor exists for as long as the registration does.
#pragma once

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
    // A descriptor that becomes readable when events wait; the GUI watches it.
    virtual int Fd() const = 0;
    // Every event that waits, in arrival order; never blocks.
    virtual std::vector<HotplugEvent> ReadEvents() = 0;
};

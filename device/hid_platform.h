// The narrow interface between the device link and the platform's HID layer: enumerate, open, get feature,
// set feature. hidapi, the Windows HID calls and the virtual controller implement it.
#pragma once

#include "portable/wait.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct HidDeviceInfo {
    std::string path;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    bool accessible = true;    // false when this user is refused reading and writing the path
    int interfaceNumber = -1;  // the USB interface, where the platform knows it
    // Where the controller is plugged in (the USB port, e.g. "1-2"), where the platform knows it. A
    // controller that restarts comes back at the same place, most often under another path.
    std::string location;
};

struct HidAttributes {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
};

// One open HID interface. Destroying the object closes it.
class HidDevice {
public:
    virtual ~HidDevice() = default;

    virtual std::optional<HidAttributes> GetAttributes() = 0;

    // Both transfer a whole report whose byte 0 is the report ID; the length counts that byte.
    // They return the number of bytes transferred, or -1 with the system's text in `error`.
    virtual int GetFeature(uint8_t* data, std::size_t length, std::string& error) = 0;
    virtual int SetFeature(const uint8_t* data, std::size_t length, std::string& error) = 0;
};

class HidPlatform {
public:
    virtual ~HidPlatform() = default;

    // Interfaces of one vendor, in the platform's order, each path once.
    virtual std::vector<HidDeviceInfo> Enumerate(uint16_t vendorId) = 0;

    // Null when the path cannot be opened for reading and writing.
    virtual std::unique_ptr<HidDevice> Open(const std::string& path) = 0;

    // From now on, a transfer of any device this platform opened (before or after) that is under way when
    // `stop` becomes ready is cancelled and fails, so that a request to stop never waits on a controller that
    // does not answer; kNoWaitHandle withdraws it. The handle must stay valid until withdrawn or until the
    // platform and its devices are gone. Where the system bounds each transfer itself and offers no cancel
    // (hidraw), or transfers never hang (the virtual controller), this does nothing.
    virtual void StopTransfersOn(portable::WaitHandle stop) { (void)stop; }

    // Whether other programs reach the devices opened here, so that a change must hold them against those
    // programs (the system's HID layer does). A virtual controller is its own program's: kept in no file, or
    // in a state file whose lock keeps every other run out for the whole run.
    virtual bool SharedWithOtherPrograms() const { return true; }
};

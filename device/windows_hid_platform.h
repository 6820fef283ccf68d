// The Windows backend of the platform interface: SetupAPI lists the HID interfaces, hid.dll transfers the
// feature reports.
#pragma once

#include "device/hid_platform.h"

class WindowsHidPlatform : public HidPlatform {
public:
    std::vector<HidDeviceInfo> Enumerate(uint16_t vendorId) override;
    std::unique_ptr<HidDevice> Open(const std::string& path) override;
};

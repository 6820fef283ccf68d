// The Windows backend of the platform interface: SetupAPI lists the HID interfaces, hid.dll transfers the
// feature reports.
#pragma once

#include "device/hid_platform.h"

#include <mutex>
#include <set>

class WindowsHidPlatform : public HidPlatform {
public:
    std::vector<HidDeviceInfo> Enumerate(uint16_t vendorId) override;
    std::unique_ptr<HidDevice> Open(const std::string& path) override;

    // Paths skipped because this user may not open them.
    std::set<std::string> DeniedPaths() const;

private:
    mutable std::mutex mutex_;
    std::set<std::string> denied_;
};

// The hidapi (hidraw) backend of the platform interface.
#pragma once

#include "device/hid_platform.h"

#include <mutex>
#include <set>

class HidapiPlatform : public HidPlatform {
public:
    HidapiPlatform();
    ~HidapiPlatform() override;
    HidapiPlatform(const HidapiPlatform&) = delete;
    HidapiPlatform& operator=(const HidapiPlatform&) = delete;

    std::vector<HidDeviceInfo> Enumerate(uint16_t vendorId) override;
    std::unique_ptr<HidDevice> Open(const std::string& path) override;

    // Paths skipped because this user may not open them.
    std::set<std::string> DeniedPaths() const;

private:
    bool initialised_ = false;
    mutable std::mutex mutex_;
    std::set<std::string> denied_;
};

// The hidapi (hidraw) backend of the platform interface.
#pragma once

#include "device/hid_platform.h"

#include <mutex>

class HidapiPlatform : public HidPlatform {
public:
    HidapiPlatform();
    ~HidapiPlatform() override;
    HidapiPlatform(const HidapiPlatform&) = delete;
    HidapiPlatform& operator=(const HidapiPlatform&) = delete;

    std::vector<HidDeviceInfo> Enumerate(uint16_t vendorId) override;
    std::unique_ptr<HidDevice> Open(const std::string& path) override;

private:
    bool initialised_ = false;
    // hid_open_path keeps hidapi's global error text: one thread at a time. Transfers on open devices run
    // on any thread, each device on its own.
    std::mutex opening_;
};

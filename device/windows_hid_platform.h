// The Windows backend of the platform interface: SetupAPI lists the HID interfaces, the HID class driver's
// feature-report requests move the reports. Each transfer runs overlapped and is given up after
// kTransferTimeoutMs, as Linux's kernel gives up a HID control transfer, or when a stop is requested.
#pragma once

#include "device/hid_platform.h"
#include "device/windows_open_devices.h"

#include <atomic>
#include <memory>

// usbhid sends a feature report with a USB control message and waits for it USB_CTRL_SET_TIMEOUT (a get:
// USB_CTRL_GET_TIMEOUT), both 5000 ms; hidraw then fails the ioctl with ETIMEDOUT.
constexpr unsigned long kTransferTimeoutMs = 5000;

class WindowsHidPlatform : public HidPlatform {
public:
    std::vector<HidDeviceInfo> Enumerate(uint16_t vendorId) override;
    std::unique_ptr<HidDevice> Open(const std::string& path) override;
    void StopTransfersOn(portable::WaitHandle stop) override;
    // The interfaces open now, for the monitors that register them for removal notices.
    std::shared_ptr<OpenDevices> Devices() const { return devices_; }

private:
    std::shared_ptr<OpenDevices> devices_ = std::make_shared<OpenDevices>();
    // Shared with every device opened here, which may outlive the platform.
    std::shared_ptr<std::atomic<portable::WaitHandle>> stop_ =
        std::make_shared<std::atomic<portable::WaitHandle>>(portable::kNoWaitHandle);
};

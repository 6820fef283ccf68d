// The device link: finds the controller, holds the one open handle to it (DeviceHandle) and exchanges
// feature reports through it. The dialog's thread uses ReportBuffer; the firmware worker uses buffers of
// its own and reads DeviceHandle anew for every report.
#pragma once

#include "device/hid_platform.h"
#include "device/reports.h"
#include "device/wire_log.h"
#include "resources/version.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace controller {
constexpr uint16_t kVendorId = 0x2E5A;
constexpr uint16_t kProductId = 0x7410;
constexpr uint16_t kProductIdAlt = 0x7411;
constexpr bool IsControllerProduct(uint16_t productId)
{
    return productId == kProductId || productId == kProductIdAlt;
}
// The controller needs this long after it arrives before it answers reliably.
constexpr std::chrono::milliseconds kArrivalSettleTime{3000};
// The udev rule that gives the user at the machine access to the controller's node, as installed (Linux).
extern const char* const kUdevRulePath;
// What to tell the user when a controller is present at `path` but this user may not open it.
std::string AccessAdvice(const std::string& path);
}  // namespace controller

class DeviceLink {
public:
    explicit DeviceLink(HidPlatform& platform);
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    // Walks the platform's interfaces of the controller's vendor in order and keeps the first controller
    // open in DeviceHandle, or none. Until the walk ends DeviceHandle keeps its old handle; the handle it
    // replaces is released once no transfer uses it any more.
    bool FindDevice();
    // The same for the one interface at `path` (as Enumerate lists it): kept open when it is a controller.
    bool OpenPath(const std::string& path);
    // Every controller the platform lists, in its order, whether this user may open it or not; a controller
    // counts once, by its first interface.
    std::vector<HidDeviceInfo> Controllers();

    // Reads an 8-byte report of ID 1 or 2 into ReportBuffer. Any other ID: false, no transfer, buffer untouched.
    bool GetShortReport(int reportId);

    // One synchronous transfer of a whole report through the handle in DeviceHandle at this moment.
    // True only when all `length` bytes were transferred. `error` gets the system's text on failure.
    bool GetFeature(uint8_t* data, std::size_t length, std::string* error = nullptr);
    bool SetFeature(const uint8_t* data, std::size_t length, std::string* error = nullptr);

    // The system's text for the last transfer that failed on the calling thread.
    static std::string LastError();

    // The three ParameterReport senders; each fills ReportBuffer and sends all 63 bytes.
    bool SendNumericParameter(int group, int index, int value);
    bool SendStringParameter(int group, int index, int length, const char* text);
    bool SendRestoreDefaults();

    ReportBytes& ReportBuffer() { return reportBuffer_; }
    std::shared_ptr<HidDevice> DeviceHandle() const { return deviceHandle_.load(); }
    bool HasDevice() const { return DeviceHandle() != nullptr; }
    std::string DevicePath() const;
    // Where the open controller is plugged in, where the platform knows it (HidDeviceInfo::location).
    std::string DeviceLocation() const;
    // After a FindDevice that found no controller: the path of one that is present but that this user may
    // not open for reading and writing; empty otherwise.
    std::string InaccessiblePath() const { return inaccessiblePath_; }

    // Set before transfers start; every transfer is then logged, each line led by `unit` when one is given.
    void SetWireLog(std::shared_ptr<WireLog> log, std::string unit = {})
    {
        wireLog_ = std::move(log);
        wireUnit_ = std::move(unit);
    }

    HidPlatform& Platform() { return platform_; }

private:
    bool OpenFirst(const std::string& onlyPath);  // any path when empty
    bool Transfer(bool isSet, uint8_t* data, std::size_t length, std::string* error);

    HidPlatform& platform_;
    std::atomic<std::shared_ptr<HidDevice>> deviceHandle_;
    std::atomic<std::shared_ptr<const HidDeviceInfo>> opened_;  // what the enumeration said of DeviceHandle
    std::string inaccessiblePath_;                              // the dialog's thread only, like FindDevice
    ReportBytes reportBuffer_{};
    std::shared_ptr<WireLog> wireLog_;
    std::string wireUnit_;
};

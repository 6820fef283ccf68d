// The virtual controller: a stand-in for the Tavrel 7410 behind the same platform and hot-plug interfaces
// as the real device. It is strict: a malformed command fails its transfer and is recorded as a refusal.
#pragma once

#include "device/hid_platform.h"
#include "device/hotplug.h"
#include "device/reports.h"
#include "settings/catalogue.h"
#include "sim/memory.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// One opened connection to the controller. Besides the system's text it keeps the errno of its last failed
// transfer, as the kernel's hidraw driver would return it (ENODEV, EPIPE, EIO, ETIMEDOUT).
class Connection : public HidDevice {
public:
    virtual int LastErrno() const = 0;
};

// A bench of virtual controllers: it starts with one plugged in at kDevicePath, and more can come, one after
// another or several at once, each on its own path with its own memory. The calls that name no path act on
// the current unit: the one that came last, or the one chosen with Select.
class VirtualController : public HidPlatform {
public:
    VirtualController();
    ~VirtualController() override;
    VirtualController(const VirtualController&) = delete;
    VirtualController& operator=(const VirtualController&) = delete;

    // The platform interface.
    std::vector<HidDeviceInfo> Enumerate(uint16_t vendorId) override;
    std::unique_ptr<HidDevice> Open(const std::string& path) override;
    std::unique_ptr<Connection> Connect(const std::string& path);

    // The hot-plug interface: a monitor that hears every plug and pull-out from now on.
    std::unique_ptr<HotplugMonitor> CreateMonitor();

    // Plug in (a fresh connection: handles from before stay dead) and pull out. Both notify the monitors.
    void Plug();
    void Unplug();
    bool IsPlugged() const;
    std::string DevicePath() const;  // the current unit's

    // More units, each with the factory memory (its firmware `firmware` when given), plugged in and made
    // current. PlugNext pulls out the current unit first; Attach leaves it in. Both return the new path.
    std::string PlugNext(std::optional<FirmwareVersion> firmware = std::nullopt);
    std::string Attach(std::optional<FirmwareVersion> firmware = std::nullopt);
    bool Select(const std::string& path);  // false when no unit has that path
    std::vector<std::string> UnitPaths() const;  // every unit that ever came, plugged in or not
    std::optional<Memory> MemoryOf(const std::string& path) const;

    // Memory.
    Memory GetMemory() const;
    void SetMemory(const Memory& memory);
    void SetStation(uint8_t stationByte);
    void SetLineLevel(uint8_t levelByte);
    void SetFirmware(uint8_t byte1, uint8_t byte2);
    int ChoiceValue(ParameterAddress address) const;  // -1 if not a choice setting
    std::string Text(ParameterAddress address) const;

    // Faults.
    void SetLatency(std::chrono::microseconds perTransfer);
    std::chrono::microseconds Latency() const;
    void FailNthTransfer(int n, int errnum = EIO);  // the n-th next transfer fails (1: the next one)
    void FailFromNthTransfer(int n);      // the n-th next transfer and every one after it fail
    void PullOutAfterNthTransfer(int n);  // the n-th next transfer fails and the controller is pulled out
    void AnswerNextGet(uint8_t reportId, std::vector<uint8_t> bytes);  // queued; may be shorter than asked
    void ClearFaults();

    // Every transfer that reached the controller, and why each refused command was refused.
    int TransferCount() const;
    std::vector<std::string> Refusals() const;

    // Firmware download. After the end-of-file record of a complete image the controller waits
    // `disconnectDelay`, pulls itself out, waits `rebootDelay` and arrives again running the carried firmware.
    void SetRebootTimes(std::chrono::milliseconds disconnectDelay, std::chrono::milliseconds rebootDelay);
    bool InDownloadMode() const;
    int ProgrammingCount() const;  // images completely received
    int RecordsReceived() const;   // valid records of the download under way or last finished

    struct Core;
    struct Hub;

private:
    std::shared_ptr<Core> Current() const;
    std::optional<std::size_t> IndexOf(const std::string& path) const;  // with `unitsMutex_` held
    std::shared_ptr<Core> Find(const std::string& path) const;
    std::shared_ptr<Core> NewUnit(std::optional<FirmwareVersion> firmware);
    std::string AddUnit(std::optional<FirmwareVersion> firmware, bool pullOutCurrent);

    std::shared_ptr<Hub> hub_;
    mutable std::mutex unitsMutex_;  // guards the list and the choice of the current unit
    std::vector<std::shared_ptr<Core>> units_;
    std::size_t current_ = 0;
};

}  // namespace sim

// The virtual controller: a stand-in for the Tavrel 7410 behind the same platform and hot-plug interfaces
// as the real device. It is strict: a malformed command fails its transfer and is recorded as a refusal.
#pragma once

#include "device/hid_platform.h"
#include "device/hotplug.h"
#include "device/reports.h"  // FirmwareVersion, which names the firmware a new unit runs
#include "sim/memory.h"
#include "sim/memory_map.h"

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

class VirtualUnit;

// A bench of virtual controllers: it starts with one plugged in at kDevicePath, and more can come, one after
// another or several at once, each on its own path with its own memory. What is done to one unit is done
// through its VirtualUnit, which names it.
class VirtualController : public HidPlatform {
public:
    VirtualController();
    ~VirtualController() override;
    VirtualController(const VirtualController&) = delete;
    VirtualController& operator=(const VirtualController&) = delete;

    // The platform interface.
    std::vector<HidDeviceInfo> Enumerate(uint16_t vendorId) override;
    std::unique_ptr<HidDevice> Open(const std::string& path) override;
    bool SharedWithOtherPrograms() const override { return false; }
    std::unique_ptr<Connection> Connect(const std::string& path);

    // The hot-plug interface: a monitor that hears every plug and pull-out from now on.
    std::unique_ptr<HotplugMonitor> CreateMonitor();

    // The units. FirstUnit is the one the bench starts with, at kDevicePath; Unit throws std::invalid_argument
    // for a path no unit has, FindUnit gives nothing.
    VirtualUnit FirstUnit() const;
    VirtualUnit Unit(const std::string& path) const;
    std::optional<VirtualUnit> FindUnit(const std::string& path) const;
    std::vector<std::string> UnitPaths() const;  // every unit that ever came, plugged in or not, in that order
    std::optional<Memory> MemoryOf(const std::string& path) const;

    // More units, each with the factory memory (its firmware `firmware` when given), plugged in. PlugNext pulls
    // out the unit at `replacing` first (std::invalid_argument when there is none) and the new unit takes its
    // pace and reboot times; Attach leaves every unit in, and the new one takes those of the unit that came last.
    VirtualUnit PlugNext(const std::string& replacing, std::optional<FirmwareVersion> firmware = std::nullopt);
    VirtualUnit Attach(std::optional<FirmwareVersion> firmware = std::nullopt);

    struct Core;
    struct Hub;

private:
    std::optional<std::size_t> IndexOf(const std::string& path) const;  // with `unitsMutex_` held
    std::shared_ptr<Core> Find(const std::string& path) const;
    std::shared_ptr<Core> NewUnit(std::optional<FirmwareVersion> firmware, const Core* like);
    VirtualUnit AddUnit(std::optional<FirmwareVersion> firmware, const std::string* replacing);

    std::shared_ptr<Hub> hub_;
    mutable std::mutex unitsMutex_;  // guards the list
    std::vector<std::shared_ptr<Core>> units_;
};

// One unit on the bench, named by its path: a light handle, cheap to copy, that keeps the unit alive while it is
// held. Every call is safe from any thread.
class VirtualUnit {
public:
    const std::string& Path() const;

    // Plug in (a fresh connection: handles from before stay dead) and pull out. Both notify the monitors.
    void Plug();
    void Unplug();
    bool IsPlugged() const;

    // Memory.
    Memory GetMemory() const;
    // The memory as it is once a restart under way has run (a unit that took every line of an image runs
    // the carried firmware after it, even when the program ends first): what a state file keeps.
    Memory SettledMemory() const;
    void SetMemory(const Memory& memory);
    void SetStation(uint8_t stationByte);
    void SetLineLevel(uint8_t levelByte);
    void SetFirmware(uint8_t byte1, uint8_t byte2);
    int ChoiceValue(SettingAddress address) const;  // -1 if not a choice setting
    std::string Text(SettingAddress address) const;

    // Faults.
    void SetLatency(std::chrono::microseconds perTransfer);
    std::chrono::microseconds Latency() const;
    void FailNthTransfer(int n, int errnum = EIO);  // the n-th next transfer fails (1: the next one)
    void FailFromNthTransfer(int n);                // the n-th next transfer and every one after it fail
    void PullOutAfterNthTransfer(int n);            // the n-th next transfer fails and the controller is pulled out
    // The n-th next transfer waits, before it reaches the unit, until released: a test acts at a known
    // point of a stream however far the window's thread trails it.
    void HoldNthTransfer(int n);
    bool IsHoldingATransfer() const;
    void ReleaseHeldTransfer();
    void AnswerNextGet(uint8_t reportId, std::vector<uint8_t> bytes);  // queued; may be shorter than asked
    void ClearFaults();

    // Every transfer that reached the unit, and why each refused command was refused.
    int TransferCount() const;
    std::vector<std::string> Refusals() const;

    // Firmware download. After the end-of-file record of a complete image the unit waits `disconnectDelay`,
    // pulls itself out, waits `rebootDelay` and arrives again running the carried firmware.
    void SetRebootTimes(std::chrono::milliseconds disconnectDelay, std::chrono::milliseconds rebootDelay);
    bool InDownloadMode() const;
    int ProgrammingCount() const;  // images completely received
    int RecordsReceived() const;   // valid records of the download under way or last finished

private:
    friend class VirtualController;
    explicit VirtualUnit(std::shared_ptr<VirtualController::Core> core) : core_(std::move(core)) {}

    std::shared_ptr<VirtualController::Core> core_;
};

}  // namespace sim

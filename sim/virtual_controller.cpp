#include "sim/virtual_controller.h"

#include "sim/controller_core.h"
#include "sim/event_pipe.h"

#include "device/carried_firmware.h"
#include "device/device_link.h"
#include "device/reports.h"
#include "sim/defaults.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace sim {

// A monitor that hears every plug and pull-out of this controller while it exists.
class SimMonitor : public EventPipe {
public:
    explicit SimMonitor(std::shared_ptr<VirtualController::Core> core) : core_(std::move(core))
    {
        std::lock_guard lock(core_->mutex);
        core_->monitors.push_back(this);
    }
    ~SimMonitor() override
    {
        std::lock_guard lock(core_->mutex);
        std::erase(core_->monitors, this);
    }

private:
    std::shared_ptr<VirtualController::Core> core_;
};

void VirtualController::Core::Notify(HotplugAction action)
{
    for (SimMonitor* m : monitors) {
        m->Push(HotplugEvent{action, kDevicePath});
    }
}

void VirtualController::Core::PlugLocked()
{
    if (!plugged) {
        plugged = true;
        ++generation;
        Notify(HotplugAction::Add);
    }
}

void VirtualController::Core::UnplugLocked()
{
    if (plugged) {
        plugged = false;
        downloading = false;
        Notify(HotplugAction::Remove);
    }
}

void VirtualController::Core::Shutdown()
{
    {
        std::lock_guard lock(mutex);
        shuttingDown = true;
    }
    wake.notify_all();
    if (rebootThread.joinable()) {
        rebootThread.join();
    }
}

void VirtualController::Core::ScheduleReboot()
{
    if (rebootPending || shuttingDown) {
        return;
    }
    if (rebootThread.joinable()) {
        rebootThread.join();  // the last reboot has finished: it is no longer pending
    }
    rebootPending = true;
    rebootThread = std::thread([this] {
        std::unique_lock lock(mutex);
        if (wake.wait_for(lock, disconnectDelay, [this] { return shuttingDown; })) {
            return;
        }
        UnplugLocked();
        if (wake.wait_for(lock, rebootDelay, [this] { return shuttingDown; })) {
            return;
        }
        // The new firmware runs; the settings stay as they were.
        const std::array<uint8_t, 2> carried = EncodeFirmwareVersion(CarriedFirmwareVersion());
        memory.firmware1 = carried[0];
        memory.firmware2 = carried[1];
        rebootPending = false;
        PlugLocked();
    });
}

int VirtualController::Core::Refuse(std::string reason, int& error)
{
    refusals.push_back(std::move(reason));
    error = EPIPE;  // what hidraw reports when the device stalls a control transfer
    return -1;
}

int VirtualController::Core::Transfer(uint64_t handleGeneration, bool isSet, uint8_t* data, std::size_t length,
                                      int& error)
{
    // Paced against absolute deadlines: a sleep that overshoots once is made up by the next transfers
    // rather than added to every one, so a long stream takes its transfers times the latency.
    std::chrono::steady_clock::time_point due;
    {
        std::lock_guard lock(mutex);
        if (latency.count() > 0) {
            const auto now = std::chrono::steady_clock::now();
            pacer = std::max(pacer, now - latency) + latency;  // after a pause, pacing starts afresh
            due = pacer;
        }
    }
    if (due != std::chrono::steady_clock::time_point{}) {
        std::this_thread::sleep_until(due);
    }

    std::lock_guard lock(mutex);
    if (!plugged || handleGeneration != generation) {
        error = ENODEV;
        return -1;
    }
    const int n = ++transfers;
    if (n == pullOutAt) {
        pullOutAt = 0;
        UnplugLocked();
        error = ENODEV;
        return -1;
    }
    if (n == failAt || (failFrom != 0 && n >= failFrom)) {
        error = n == failAt ? failErrno : EIO;
        if (n == failAt) {
            failAt = 0;
        }
        return -1;
    }
    return isSet ? Set(data, length, error) : Get(data, length, error);
}

namespace {

class SimDevice : public Connection {
public:
    SimDevice(std::shared_ptr<VirtualController::Core> core, uint64_t generation)
        : core_(std::move(core)), generation_(generation)
    {
    }

    std::optional<HidAttributes> GetAttributes() override
    {
        std::lock_guard lock(core_->mutex);
        if (!core_->plugged || core_->generation != generation_) {
            return std::nullopt;
        }
        return HidAttributes{controller::kVendorId, kProductId};
    }

    int GetFeature(uint8_t* data, std::size_t length, std::string& error) override
    {
        return Finish(core_->Transfer(generation_, false, data, length, lastErrno_), error);
    }

    int SetFeature(const uint8_t* data, std::size_t length, std::string& error) override
    {
        // Set transfers never write into the caller's buffer.
        return Finish(core_->Transfer(generation_, true, const_cast<uint8_t*>(data), length, lastErrno_), error);
    }

    int LastErrno() const override { return lastErrno_; }

private:
    int Finish(int result, std::string& error)
    {
        if (result < 0) {
            error = std::strerror(lastErrno_);
        } else {
            lastErrno_ = 0;
        }
        return result;
    }

    std::shared_ptr<VirtualController::Core> core_;
    uint64_t generation_;
    int lastErrno_ = 0;
};

}  // namespace

VirtualController::VirtualController() : core_(std::make_shared<Core>()) {}

VirtualController::~VirtualController()
{
    core_->Shutdown();
}

std::vector<HidDeviceInfo> VirtualController::Enumerate(uint16_t vendorId)
{
    std::lock_guard lock(core_->mutex);
    if (!core_->plugged || (vendorId != 0 && vendorId != controller::kVendorId)) {
        return {};
    }
    return {HidDeviceInfo{kDevicePath, controller::kVendorId, kProductId, true}};
}

std::unique_ptr<HidDevice> VirtualController::Open(const std::string& path)
{
    return Connect(path);
}

std::unique_ptr<Connection> VirtualController::Connect(const std::string& path)
{
    std::lock_guard lock(core_->mutex);
    if (!core_->plugged || path != kDevicePath) {
        return nullptr;
    }
    return std::make_unique<SimDevice>(core_, core_->generation);
}

std::unique_ptr<HotplugMonitor> VirtualController::CreateMonitor()
{
    return std::make_unique<SimMonitor>(core_);
}

void VirtualController::Plug()
{
    std::lock_guard lock(core_->mutex);
    core_->PlugLocked();
}

void VirtualController::Unplug()
{
    std::lock_guard lock(core_->mutex);
    core_->UnplugLocked();
}

bool VirtualController::IsPlugged() const
{
    std::lock_guard lock(core_->mutex);
    return core_->plugged;
}

std::string VirtualController::DevicePath() const
{
    return kDevicePath;
}

Memory VirtualController::GetMemory() const
{
    std::lock_guard lock(core_->mutex);
    return core_->memory;
}

void VirtualController::SetMemory(const Memory& memory)
{
    std::lock_guard lock(core_->mutex);
    core_->memory = memory;
}

void VirtualController::SetStation(uint8_t stationByte)
{
    std::lock_guard lock(core_->mutex);
    core_->memory.station = stationByte;
}

void VirtualController::SetLineLevel(uint8_t levelByte)
{
    std::lock_guard lock(core_->mutex);
    core_->memory.level = levelByte;
}

void VirtualController::SetFirmware(uint8_t byte1, uint8_t byte2)
{
    std::lock_guard lock(core_->mutex);
    core_->memory.firmware1 = byte1;
    core_->memory.firmware2 = byte2;
}

int VirtualController::ChoiceValue(ParameterAddress address) const
{
    const CatalogueEntry* entry = FindEntryByAddress(address);
    if (entry == nullptr || entry->kind != EntryKind::Choice) {
        return -1;
    }
    std::lock_guard lock(core_->mutex);
    auto it = core_->memory.choices.find(entry->settingsByte);
    return it == core_->memory.choices.end() ? -1 : it->second;
}

std::string VirtualController::Text(ParameterAddress address) const
{
    const CatalogueEntry* entry = FindEntryByAddress(address);
    if (entry == nullptr || entry->kind != EntryKind::Text) {
        return {};
    }
    std::lock_guard lock(core_->mutex);
    auto it = core_->memory.texts.find(entry->settingsByte);
    return it == core_->memory.texts.end() ? std::string() : it->second;
}

void VirtualController::SetLatency(std::chrono::microseconds perTransfer)
{
    std::lock_guard lock(core_->mutex);
    core_->latency = perTransfer;
}

std::chrono::microseconds VirtualController::Latency() const
{
    std::lock_guard lock(core_->mutex);
    return core_->latency;
}

void VirtualController::FailNthTransfer(int n, int errnum)
{
    std::lock_guard lock(core_->mutex);
    core_->failAt = n > 0 ? core_->transfers + n : 0;
    core_->failErrno = errnum;
}

void VirtualController::FailFromNthTransfer(int n)
{
    std::lock_guard lock(core_->mutex);
    core_->failFrom = n > 0 ? core_->transfers + n : 0;
}

void VirtualController::PullOutAfterNthTransfer(int n)
{
    std::lock_guard lock(core_->mutex);
    core_->pullOutAt = n > 0 ? core_->transfers + n : 0;
}

void VirtualController::AnswerNextGet(uint8_t reportId, std::vector<uint8_t> bytes)
{
    std::lock_guard lock(core_->mutex);
    core_->cannedAnswers[reportId].push_back(std::move(bytes));
}

void VirtualController::ClearFaults()
{
    std::lock_guard lock(core_->mutex);
    core_->latency = std::chrono::microseconds{0};
    core_->failAt = core_->failFrom = core_->pullOutAt = 0;
    core_->cannedAnswers.clear();
}

int VirtualController::TransferCount() const
{
    std::lock_guard lock(core_->mutex);
    return core_->transfers;
}

std::vector<std::string> VirtualController::Refusals() const
{
    std::lock_guard lock(core_->mutex);
    return core_->refusals;
}

}  // namespace sim

namespace sim {

void VirtualController::SetRebootTimes(std::chrono::milliseconds disconnectDelay,
                                       std::chrono::milliseconds rebootDelay)
{
    std::lock_guard lock(core_->mutex);
    core_->disconnectDelay = disconnectDelay;
    core_->rebootDelay = rebootDelay;
}

bool VirtualController::InDownloadMode() const
{
    std::lock_guard lock(core_->mutex);
    return core_->downloading;
}

int VirtualController::ProgrammingCount() const
{
    std::lock_guard lock(core_->mutex);
    return core_->programmed;
}

int VirtualController::RecordsReceived() const
{
    std::lock_guard lock(core_->mutex);
    return core_->records;
}

}  // namespace sim

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

// A monitor that hears every plug and pull-out of every unit on the bench while it exists.
class SimMonitor : public EventPipe {
public:
    explicit SimMonitor(std::shared_ptr<VirtualController::Hub> hub) : hub_(std::move(hub))
    {
        std::lock_guard lock(hub_->mutex);
        hub_->monitors.push_back(this);
    }
    ~SimMonitor() override
    {
        std::lock_guard lock(hub_->mutex);
        std::erase(hub_->monitors, this);
    }

private:
    std::shared_ptr<VirtualController::Hub> hub_;
};

void VirtualController::Core::Notify(HotplugAction action)
{
    std::lock_guard lock(hub->mutex);
    for (SimMonitor* m : hub->monitors) {
        m->Push(HotplugEvent{action, path});
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
        if (!heldOut) {
            PlugLocked();
        }
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
        heldOut = true;
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

// Units are numbered in the order they came to the bench; the first is at kDevicePath.
std::string UnitPath(std::size_t index)
{
    return "virtual:7410/" + std::to_string(index);
}

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

VirtualController::VirtualController() : hub_(std::make_shared<Hub>())
{
    units_.push_back(NewUnit(std::nullopt));
    units_.front()->plugged = true;  // the bench starts with one controller in
}

VirtualController::~VirtualController()
{
    std::lock_guard lock(unitsMutex_);
    for (const std::shared_ptr<Core>& unit : units_) {
        unit->Shutdown();
    }
}

std::shared_ptr<VirtualController::Core> VirtualController::Current() const
{
    std::lock_guard lock(unitsMutex_);
    return units_[current_];
}

std::optional<std::size_t> VirtualController::IndexOf(const std::string& path) const
{
    for (std::size_t i = 0; i < units_.size(); ++i) {
        if (units_[i]->path == path) {
            return i;
        }
    }
    return std::nullopt;
}

std::shared_ptr<VirtualController::Core> VirtualController::Find(const std::string& path) const
{
    std::lock_guard lock(unitsMutex_);
    const std::optional<std::size_t> i = IndexOf(path);
    return i ? units_[*i] : nullptr;
}

// With `unitsMutex_` held, or before the bench is shared. A new unit has the factory memory and the bench's
// pace and reboot times; faults stay with the unit they were set on.
std::shared_ptr<VirtualController::Core> VirtualController::NewUnit(std::optional<FirmwareVersion> firmware)
{
    auto unit = std::make_shared<Core>();
    unit->hub = hub_;
    unit->path = UnitPath(units_.size());
    if (firmware) {
        const std::array<uint8_t, 2> bytes = EncodeFirmwareVersion(*firmware);
        unit->memory.firmware1 = bytes[0];
        unit->memory.firmware2 = bytes[1];
    }
    if (!units_.empty()) {
        const Core& from = *units_[current_];
        std::lock_guard lock(from.mutex);
        unit->latency = from.latency;
        unit->disconnectDelay = from.disconnectDelay;
        unit->rebootDelay = from.rebootDelay;
    }
    unit->plugged = false;
    return unit;
}

std::string VirtualController::AddUnit(std::optional<FirmwareVersion> firmware, bool pullOutCurrent)
{
    std::shared_ptr<Core> unit;
    std::shared_ptr<Core> previous;
    {
        std::lock_guard lock(unitsMutex_);
        unit = NewUnit(firmware);
        previous = units_[current_];
        units_.push_back(unit);
        current_ = units_.size() - 1;
    }
    if (pullOutCurrent) {
        std::lock_guard lock(previous->mutex);
        previous->heldOut = true;
        previous->UnplugLocked();
    }
    std::lock_guard lock(unit->mutex);
    unit->PlugLocked();
    return unit->path;
}

std::string VirtualController::PlugNext(std::optional<FirmwareVersion> firmware)
{
    return AddUnit(firmware, true);
}

std::string VirtualController::Attach(std::optional<FirmwareVersion> firmware)
{
    return AddUnit(firmware, false);
}

bool VirtualController::Select(const std::string& path)
{
    std::lock_guard lock(unitsMutex_);
    const std::optional<std::size_t> i = IndexOf(path);
    if (i) {
        current_ = *i;
    }
    return i.has_value();
}

std::vector<std::string> VirtualController::UnitPaths() const
{
    std::lock_guard lock(unitsMutex_);
    std::vector<std::string> paths;
    for (const std::shared_ptr<Core>& unit : units_) {
        paths.push_back(unit->path);
    }
    return paths;
}

std::optional<Memory> VirtualController::MemoryOf(const std::string& path) const
{
    const std::shared_ptr<Core> unit = Find(path);
    if (!unit) {
        return std::nullopt;
    }
    std::lock_guard lock(unit->mutex);
    return unit->memory;
}

std::vector<HidDeviceInfo> VirtualController::Enumerate(uint16_t vendorId)
{
    if (vendorId != 0 && vendorId != controller::kVendorId) {
        return {};
    }
    std::vector<std::shared_ptr<Core>> units;
    {
        std::lock_guard lock(unitsMutex_);
        units = units_;
    }
    std::vector<HidDeviceInfo> found;
    for (const std::shared_ptr<Core>& unit : units) {
        std::lock_guard lock(unit->mutex);
        if (unit->plugged) {
            found.push_back(HidDeviceInfo{unit->path, controller::kVendorId, kProductId, true});
        }
    }
    return found;
}

std::unique_ptr<HidDevice> VirtualController::Open(const std::string& path)
{
    return Connect(path);
}

std::unique_ptr<Connection> VirtualController::Connect(const std::string& path)
{
    const std::shared_ptr<Core> core = Find(path);
    if (!core) {
        return nullptr;
    }
    std::lock_guard lock(core->mutex);
    if (!core->plugged) {
        return nullptr;
    }
    return std::make_unique<SimDevice>(core, core->generation);
}

std::unique_ptr<HotplugMonitor> VirtualController::CreateMonitor()
{
    return std::make_unique<SimMonitor>(hub_);
}

void VirtualController::Plug()
{
    const std::shared_ptr<Core> core = Current();
    std::lock_guard lock(core->mutex);
    core->heldOut = false;
    core->PlugLocked();
}

void VirtualController::Unplug()
{
    const std::shared_ptr<Core> core = Current();
    std::lock_guard lock(core->mutex);
    core->heldOut = true;
    core->UnplugLocked();
}

bool VirtualController::IsPlugged() const
{
    const std::shared_ptr<Core> core = Current();
    std::lock_guard lock(core->mutex);
    return core->plugged;
}

std::string VirtualController::DevicePath() const
{
    return Current()->path;
}

Memory VirtualController::GetMemory() const
{
    const std::shared_ptr<Core> core = Current();
    std::lock_guard lock(core->mutex);
    return core->memory;
}

void VirtualController::SetMemory(const Memory& memory)
{
    const std::shared_ptr<Core> core = Current();
    std::lock_guard lock(core->mutex);
    core->memory = memory;
}

void VirtualController::SetStation(uint8_t stationByte)
{
    const std::shared_ptr<Core> core = Current();
    std::lock_guard lock(core->mutex);
    core->memory.station = stationByte;
}

void VirtualController::SetLineLevel(uint8_t levelByte)
{
    const std::shared_ptr<Core> core = Current();
    std::lock_guard lock(core->mutex);
    core->memory.level = levelByte;
}

void VirtualController::SetFirmware(uint8_t byte1, uint8_t byte2)
{
    const std::shared_ptr<Core> core = Current();
    std::lock_guard lock(core->mutex);
    core->memory.firmware1 = byte1;
    core->memory.firmware2 = byte2;
}

int VirtualController::ChoiceValue(ParameterAddress address) const
{
    const std::shared_ptr<Core> core = Current();
    const CatalogueEntry* entry = FindEntryByAddress(address);
    if (entry == nullptr || entry->kind != EntryKind::Choice) {
        return -1;
    }
    std::lock_guard lock(core->mutex);
    auto it = core->memory.choices.find(entry->settingsByte);
    return it == core->memory.choices.end() ? -1 : it->second;
}

std::string VirtualController::Text(ParameterAddress address) const
{
    const std::shared_ptr<Core> core = Current();
    const CatalogueEntry* entry = FindEntryByAddress(address);
    if (entry == nullptr || entry->kind != EntryKind::Text) {
        return {};
    }
    std::lock_guard lock(core->mutex);
    auto it = core->memory.texts.find(entry->settingsByte);
    return it == core->memory.texts.end() ? std::string() : it->second;
}

void VirtualController::SetLatency(std::chrono::microseconds perTransfer)
{
    const std::shared_ptr<Core> core = Current();
    std::lock_guard lock(core->mutex);
    core->latency = perTransfer;
}

std::chrono::microseconds VirtualController::Latency() const
{
    const std::shared_ptr<Core> core = Current();
    std::lock_guard lock(core->mutex);
    return core->latency;
}

void VirtualController::FailNthTransfer(int n, int errnum)
{
    const std::shared_ptr<Core> core = Current();
    std::lock_guard lock(core->mutex);
    core->failAt = n > 0 ? core->transfers + n : 0;
    core->failErrno = errnum;
}

void VirtualController::FailFromNthTransfer(int n)
{
    const std::shared_ptr<Core> core = Current();
    std::lock_guard lock(core->mutex);
    core->failFrom = n > 0 ? core->transfers + n : 0;
}

void VirtualController::PullOutAfterNthTransfer(int n)
{
    const std::shared_ptr<Core> core = Current();
    std::lock_guard lock(core->mutex);
    core->pullOutAt = n > 0 ? core->transfers + n : 0;
}

void VirtualController::AnswerNextGet(uint8_t reportId, std::vector<uint8_t> bytes)
{
    const std::shared_ptr<Core> core = Current();
    std::lock_guard lock(core->mutex);
    core->cannedAnswers[reportId].push_back(std::move(bytes));
}

void VirtualController::ClearFaults()
{
    const std::shared_ptr<Core> core = Current();
    std::lock_guard lock(core->mutex);
    core->latency = std::chrono::microseconds{0};
    core->failAt = core->failFrom = core->pullOutAt = 0;
    core->cannedAnswers.clear();
}

int VirtualController::TransferCount() const
{
    const std::shared_ptr<Core> core = Current();
    std::lock_guard lock(core->mutex);
    return core->transfers;
}

std::vector<std::string> VirtualController::Refusals() const
{
    const std::shared_ptr<Core> core = Current();
    std::lock_guard lock(core->mutex);
    return core->refusals;
}

}  // namespace sim

namespace sim {

void VirtualController::SetRebootTimes(std::chrono::milliseconds disconnectDelay,
                                       std::chrono::milliseconds rebootDelay)
{
    const std::shared_ptr<Core> core = Current();
    std::lock_guard lock(core->mutex);
    core->disconnectDelay = disconnectDelay;
    core->rebootDelay = rebootDelay;
}

bool VirtualController::InDownloadMode() const
{
    const std::shared_ptr<Core> core = Current();
    std::lock_guard lock(core->mutex);
    return core->downloading;
}

int VirtualController::ProgrammingCount() const
{
    const std::shared_ptr<Core> core = Current();
    std::lock_guard lock(core->mutex);
    return core->programmed;
}

int VirtualController::RecordsReceived() const
{
    const std::shared_ptr<Core> core = Current();
    std::lock_guard lock(core->mutex);
    return core->records;
}

}  // namespace sim

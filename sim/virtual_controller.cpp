// The bench: its units, their discovery and connections, and the monitors that hear them come and go.
#include "sim/virtual_controller.h"

#include "sim/controller_core.h"
#include "sim/event_pipe.h"

#include "device/device_link.h"
#include "sim/controller_reports.h"
#include "sim/defaults.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>
#include <stdexcept>

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

namespace {

// A unit fails as a hidraw node does, and says so in the words Linux gives its errors on every system: the
// C runtime on Windows has no text for some of them (ETIMEDOUT is "Unknown error" there).
std::string KernelErrorText(int errnum)
{
    switch (errnum) {
    case EIO:
        return "Input/output error";
    case EPIPE:
        return "Broken pipe";
    case ETIMEDOUT:
        return "Connection timed out";
    case ENODEV:
        return "No such device";
    default:
        return std::strerror(errnum);
    }
}

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
            error = KernelErrorText(lastErrno_);
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
    units_.push_back(NewUnit(std::nullopt, nullptr));
    units_.front()->plugged = true;  // the bench starts with one controller in
}

VirtualController::~VirtualController()
{
    std::lock_guard lock(unitsMutex_);
    for (const std::shared_ptr<Core>& unit : units_) {
        unit->Shutdown();
    }
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

// With `unitsMutex_` held, or before the bench is shared. A new unit has the factory memory and the pace and
// reboot times of the unit `like` (when there is one); faults stay with the unit they were set on.
std::shared_ptr<VirtualController::Core> VirtualController::NewUnit(std::optional<FirmwareVersion> firmware,
                                                                    const Core* like)
{
    auto unit = std::make_shared<Core>();
    unit->hub = hub_;
    unit->path = UnitPath(units_.size());
    if (firmware) {
        const std::array<uint8_t, 2> bytes = reports::FirmwareBytes(firmware->major, firmware->minor, firmware->build);
        unit->memory.firmware1 = bytes[0];
        unit->memory.firmware2 = bytes[1];
    }
    if (like != nullptr) {
        std::lock_guard lock(like->mutex);
        unit->latency = like->latency;
        unit->disconnectDelay = like->disconnectDelay;
        unit->rebootDelay = like->rebootDelay;
    }
    unit->plugged = false;
    return unit;
}

VirtualUnit VirtualController::AddUnit(std::optional<FirmwareVersion> firmware, const std::string* replacing)
{
    std::shared_ptr<Core> unit;
    std::shared_ptr<Core> previous;
    {
        std::lock_guard lock(unitsMutex_);
        if (replacing != nullptr) {
            const std::optional<std::size_t> i = IndexOf(*replacing);
            if (!i) {
                throw std::invalid_argument("no unit on the bench at " + *replacing);
            }
            previous = units_[*i];
        }
        unit = NewUnit(firmware, previous ? previous.get() : units_.back().get());
        units_.push_back(unit);
    }
    if (previous) {
        std::lock_guard lock(previous->mutex);
        previous->heldOut = true;
        previous->UnplugLocked();
    }
    std::lock_guard lock(unit->mutex);
    unit->PlugLocked();
    return VirtualUnit(unit);
}

VirtualUnit VirtualController::PlugNext(const std::string& replacing, std::optional<FirmwareVersion> firmware)
{
    return AddUnit(firmware, &replacing);
}

VirtualUnit VirtualController::Attach(std::optional<FirmwareVersion> firmware)
{
    return AddUnit(firmware, nullptr);
}

VirtualUnit VirtualController::FirstUnit() const
{
    std::lock_guard lock(unitsMutex_);
    return VirtualUnit(units_.front());
}

VirtualUnit VirtualController::Unit(const std::string& path) const
{
    std::optional<VirtualUnit> unit = FindUnit(path);
    if (!unit) {
        throw std::invalid_argument("no unit on the bench at " + path);
    }
    return *unit;
}

std::optional<VirtualUnit> VirtualController::FindUnit(const std::string& path) const
{
    std::shared_ptr<Core> core = Find(path);
    if (!core) {
        return std::nullopt;
    }
    return VirtualUnit(std::move(core));
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
            HidDeviceInfo info{unit->path, controller::kVendorId, kProductId, true, -1, {}};
            // A port of its own for each unit of each bench: benches of other processes are other controllers.
            info.location = "virtual-" + std::to_string(getpid()) + "-" + unit->path.substr(unit->path.rfind('/') + 1);
            found.push_back(std::move(info));
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

}  // namespace sim

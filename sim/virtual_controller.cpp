#include "sim/virtual_controller.h"

#include "device/device_link.h"
#include "device/reports.h"
#include "sim/defaults.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

namespace sim {

Memory FactoryMemory()
{
    Memory memory;
    memory.firmware1 = kFirmwareByte1;
    memory.firmware2 = kFirmwareByte2;
    memory.station = kStationByte;
    memory.level = kLevelByte;
    RestoreDefaults(memory);
    return memory;
}

void RestoreDefaults(Memory& memory)
{
    memory.choices.clear();
    memory.texts.clear();
    for (const DefaultSetting& d : DefaultSettings()) {
        const CatalogueEntry* entry = FindEntryByKey(d.key);
        if (entry == nullptr) {
            continue;
        }
        if (entry->kind == EntryKind::Choice) {
            memory.choices[entry->settingsByte] = static_cast<uint8_t>(d.value);
        } else if (entry->kind == EntryKind::Text) {
            memory.texts[entry->settingsByte] = d.text ? d.text : "";
        }
    }
}

class SimMonitor;

struct VirtualController::Core {
    mutable std::mutex mutex;
    Memory memory = FactoryMemory();
    bool plugged = true;
    uint64_t generation = 1;  // a new connection on every plug
    std::chrono::microseconds latency{0};
    int transfers = 0;
    int failAt = 0;     // absolute transfer numbers; 0: none
    int failFrom = 0;
    int pullOutAt = 0;
    std::map<uint8_t, std::vector<uint8_t>> cannedAnswers;
    std::vector<std::string> refusals;
    std::vector<SimMonitor*> monitors;

    void Notify(HotplugAction action);  // with `mutex` held
    int Transfer(uint64_t handleGeneration, bool isSet, uint8_t* data, std::size_t length, std::string& error);

private:
    int Get(uint8_t* data, std::size_t length, std::string& error);
    int Set(const uint8_t* data, std::size_t length, std::string& error);
    int SetParameter(const uint8_t* data, std::string& error);
    int Refuse(std::string reason, std::string& error);
};

// Self-pipe: the controller side writes a byte per event, so the GUI can watch the read end like a udev socket.
class SimMonitor : public HotplugMonitor {
public:
    explicit SimMonitor(std::shared_ptr<VirtualController::Core> core) : core_(std::move(core))
    {
        if (pipe2(fds_, O_NONBLOCK | O_CLOEXEC) != 0) {
            fds_[0] = fds_[1] = -1;
        }
        std::lock_guard lock(core_->mutex);
        core_->monitors.push_back(this);
    }

    ~SimMonitor() override
    {
        {
            std::lock_guard lock(core_->mutex);
            std::erase(core_->monitors, this);
        }
        for (int fd : fds_) {
            if (fd >= 0) {
                close(fd);
            }
        }
    }

    int Fd() const override { return fds_[0]; }

    std::vector<HotplugEvent> ReadEvents() override
    {
        char scratch[64];
        while (fds_[0] >= 0 && read(fds_[0], scratch, sizeof scratch) > 0) {
        }
        std::lock_guard lock(mutex_);
        std::vector<HotplugEvent> events(queue_.begin(), queue_.end());
        queue_.clear();
        return events;
    }

    void Push(HotplugEvent event)
    {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(event));
        }
        if (fds_[1] >= 0) {
            const char byte = 1;
            [[maybe_unused]] ssize_t n = write(fds_[1], &byte, 1);
        }
    }

private:
    std::shared_ptr<VirtualController::Core> core_;
    int fds_[2] = {-1, -1};
    std::mutex mutex_;
    std::deque<HotplugEvent> queue_;
};

void VirtualController::Core::Notify(HotplugAction action)
{
    for (SimMonitor* m : monitors) {
        m->Push(HotplugEvent{action, kDevicePath});
    }
}

int VirtualController::Core::Refuse(std::string reason, std::string& error)
{
    refusals.push_back(std::move(reason));
    error = std::strerror(EPIPE);  // what hidraw reports when the device stalls a control transfer
    return -1;
}

int VirtualController::Core::Transfer(uint64_t handleGeneration, bool isSet, uint8_t* data, std::size_t length,
                                      std::string& error)
{
    std::chrono::microseconds delay;
    {
        std::lock_guard lock(mutex);
        delay = latency;
    }
    if (delay.count() > 0) {
        std::this_thread::sleep_for(delay);
    }

    std::lock_guard lock(mutex);
    if (!plugged || handleGeneration != generation) {
        error = std::strerror(ENODEV);
        return -1;
    }
    const int n = ++transfers;
    if (n == pullOutAt) {
        pullOutAt = 0;
        plugged = false;
        Notify(HotplugAction::Remove);
        error = std::strerror(ENODEV);
        return -1;
    }
    if (n == failAt || (failFrom != 0 && n >= failFrom)) {
        if (n == failAt) {
            failAt = 0;
        }
        error = std::strerror(EIO);
        return -1;
    }
    return isSet ? Set(data, length, error) : Get(data, length, error);
}

int VirtualController::Core::Get(uint8_t* data, std::size_t length, std::string& error)
{
    if (length == 0) {
        return Refuse("get with no report ID", error);
    }
    const uint8_t id = data[0];
    if (auto canned = cannedAnswers.find(id); canned != cannedAnswers.end()) {
        const std::size_t n = std::min(length, canned->second.size());
        std::copy_n(canned->second.begin(), n, data);
        cannedAnswers.erase(canned);
        return static_cast<int>(n);
    }
    if (id == report::kStatusId && length == report::kStatusLength) {
        std::fill_n(data + 1, length - 1, 0);
        return static_cast<int>(length);
    }
    if (id == report::kSettingsId && length == report::kSettingsLength) {
        std::fill_n(data + 1, length - 1, 0);
        data[report::kFirmwareByte1] = memory.firmware1;
        data[report::kFirmwareByte2] = memory.firmware2;
        data[report::kStationByte] = memory.station;
        data[report::kLevelByte] = memory.level;
        for (const auto& [byte, value] : memory.choices) {
            data[byte] = value;
        }
        // The string pool is laid out afresh from position 1 in settings-byte order; see the ID 5 answer.
        int position = 1;
        for (const auto& [byte, text] : memory.texts) {
            data[byte] = static_cast<uint8_t>(position);
            position += static_cast<int>(text.size()) + 1;
        }
        return static_cast<int>(length);
    }
    if (id == report::kStringPoolId && length == report::kStringPoolLength) {
        std::fill_n(data + 1, length - 1, 0);
        std::size_t position = 1;
        for (const auto& [byte, text] : memory.texts) {
            for (char c : text) {
                if (position < length) {
                    data[position++] = static_cast<uint8_t>(c);
                }
            }
            ++position;  // the zero
        }
        return static_cast<int>(length);
    }
    return Refuse("get of report " + std::to_string(id) + " with length " + std::to_string(length), error);
}

int VirtualController::Core::Set(const uint8_t* data, std::size_t length, std::string& error)
{
    if (length == 0) {
        return Refuse("set with no report ID", error);
    }
    const uint8_t id = data[0];
    if (id == report::kParameterId && length == report::kParameterLength) {
        return SetParameter(data, error);
    }
    return Refuse("set of report " + std::to_string(id) + " with length " + std::to_string(length), error);
}

namespace {
std::optional<int> DigitValue(uint8_t c)
{
    if (c < '0' || c > '9') {
        return std::nullopt;
    }
    return c - '0';
}
}  // namespace

int VirtualController::Core::SetParameter(const uint8_t* data, std::string& error)
{
    const int commandLength = data[1];
    if (commandLength == report::kRestoreCommandLength) {
        if (data[2] != report::kRestoreDigit || data[3] != report::kRestoreDigit) {
            return Refuse("two-byte command other than restore defaults", error);
        }
        RestoreDefaults(memory);
        return static_cast<int>(report::kParameterLength);
    }
    if (commandLength < report::kNumericCommandLength ||
        commandLength > report::kNumericCommandLength + static_cast<int>(report::kMaxTextLength)) {
        return Refuse("command length " + std::to_string(commandLength), error);
    }
    const auto group = DigitValue(data[2]);
    const auto index = DigitValue(data[3]);
    const auto tens = DigitValue(data[4]);
    const auto units = DigitValue(data[5]);
    if (!group || !index || !tens || !units) {
        return Refuse("a digit of the command is not a digit", error);
    }
    const CatalogueEntry* entry = FindEntryByAddress({*group, *index});
    if (entry == nullptr) {
        return Refuse("no setting at (" + std::to_string(*group) + "," + std::to_string(*index) + ")", error);
    }
    const int number = *tens * 10 + *units;
    if (entry->kind == EntryKind::Choice) {
        if (commandLength != report::kNumericCommandLength) {
            return Refuse(std::string("text command for choice setting ") + entry->key, error);
        }
        if (number >= entry->list->Size()) {
            return Refuse("value " + std::to_string(number) + " beyond the list of " + entry->key, error);
        }
        memory.choices[entry->settingsByte] = static_cast<uint8_t>(number);
        return static_cast<int>(report::kParameterLength);
    }
    // A text setting: L = n + 4, n at most 16, no zero inside the text.
    if (commandLength != number + report::kNumericCommandLength) {
        return Refuse("text length " + std::to_string(number) + " does not match command length " +
                          std::to_string(commandLength),
                      error);
    }
    std::string text(reinterpret_cast<const char*>(data + 6), static_cast<std::size_t>(number));
    if (text.find('\0') != std::string::npos) {
        return Refuse(std::string("zero byte inside the text for ") + entry->key, error);
    }
    memory.texts[entry->settingsByte] = std::move(text);
    return static_cast<int>(report::kParameterLength);
}

namespace {

class SimDevice : public HidDevice {
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
        return core_->Transfer(generation_, false, data, length, error);
    }

    int SetFeature(const uint8_t* data, std::size_t length, std::string& error) override
    {
        // Set transfers never write into the caller's buffer.
        return core_->Transfer(generation_, true, const_cast<uint8_t*>(data), length, error);
    }

private:
    std::shared_ptr<VirtualController::Core> core_;
    uint64_t generation_;
};

}  // namespace

VirtualController::VirtualController() : core_(std::make_shared<Core>()) {}

VirtualController::~VirtualController() = default;

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
    if (core_->plugged) {
        return;
    }
    core_->plugged = true;
    ++core_->generation;
    core_->Notify(HotplugAction::Add);
}

void VirtualController::Unplug()
{
    std::lock_guard lock(core_->mutex);
    if (!core_->plugged) {
        return;
    }
    core_->plugged = false;
    core_->Notify(HotplugAction::Remove);
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

void VirtualController::FailNthTransfer(int n)
{
    std::lock_guard lock(core_->mutex);
    core_->failAt = n > 0 ? core_->transfers + n : 0;
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
    core_->cannedAnswers[reportId] = std::move(bytes);
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

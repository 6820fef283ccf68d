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
#include <condition_variable>
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
    int failErrno = EIO;
    int failFrom = 0;
    int pullOutAt = 0;
    std::map<uint8_t, std::deque<std::vector<uint8_t>>> cannedAnswers;  // per report ID, in order
    std::vector<std::string> refusals;
    std::vector<SimMonitor*> monitors;

    // Download mode.
    bool downloading = false;
    std::string line;           // the record being received, up to its "."
    uint32_t upperAddress = 0;  // from the last extended linear address record
    uint32_t nextAddress = 0;
    bool anyData = false;
    int records = 0;
    int programmed = 0;
    std::chrono::milliseconds disconnectDelay{300};
    std::chrono::milliseconds rebootDelay{1500};
    bool rebootPending = false;
    bool shuttingDown = false;
    std::condition_variable wake;
    std::thread rebootThread;

    void Notify(HotplugAction action);  // with `mutex` held
    void PlugLocked();
    void UnplugLocked();
    // -1 with the errno the kernel's hidraw driver would give, or the bytes transferred.
    int Transfer(uint64_t handleGeneration, bool isSet, uint8_t* data, std::size_t length, int& error);
    void Shutdown();

private:
    int Get(uint8_t* data, std::size_t length, int& error);
    int Set(const uint8_t* data, std::size_t length, int& error);
    int SetParameter(const uint8_t* data, int& error);
    int SetChunk(const uint8_t* data, int& error);
    std::optional<std::string> TakeRecord(const std::string& record);  // an error text when invalid
    void ScheduleReboot();
    int Refuse(std::string reason, int& error);
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
        memory.firmware1 = 0x20;
        memory.firmware2 = 0x10;
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

int VirtualController::Core::Get(uint8_t* data, std::size_t length, int& error)
{
    if (length == 0) {
        return Refuse("get with no report ID", error);
    }
    const uint8_t id = data[0];
    if (auto canned = cannedAnswers.find(id); canned != cannedAnswers.end() && !canned->second.empty()) {
        const std::vector<uint8_t> answer = std::move(canned->second.front());
        canned->second.pop_front();
        const std::size_t n = std::min(length, answer.size());
        std::copy_n(answer.begin(), n, data);
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

int VirtualController::Core::Set(const uint8_t* data, std::size_t length, int& error)
{
    if (length == 0) {
        return Refuse("set with no report ID", error);
    }
    const uint8_t id = data[0];
    if (id == report::kParameterId && length == report::kParameterLength) {
        return SetParameter(data, error);
    }
    if (id == report::kBootId && length == report::kBootLength) {
        if (data[1] != report::kBootCommand || data[2] != 0) {
            return Refuse("boot report other than \"A\"", error);
        }
        downloading = true;
        line.clear();
        upperAddress = nextAddress = 0;
        anyData = false;
        records = 0;
        return static_cast<int>(length);
    }
    if (id == report::kFirmwareChunkId && length == report::kFirmwareChunkLength) {
        return SetChunk(data, error);
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

int VirtualController::Core::SetChunk(const uint8_t* data, int& error)
{
    if (!downloading) {
        return Refuse("firmware chunk outside download mode", error);
    }
    if (data[1] != report::kFirmwareChunkCommand) {
        downloading = false;
        return Refuse("firmware chunk without \"F\"", error);
    }
    // The line's bytes run up to the "." that stands for its CR; what follows in the report is filler.
    const uint8_t* begin = data + 2;
    const uint8_t* end = begin + report::kChunkDataSize;
    const uint8_t* dot = std::find(begin, end, '.');
    line.append(begin, dot);
    constexpr std::size_t kLongestRecord = 2 * 255 + 11;
    if (line.size() > kLongestRecord) {
        downloading = false;
        return Refuse("firmware line longer than any record", error);
    }
    if (dot == end) {
        return static_cast<int>(report::kFirmwareChunkLength);
    }
    const std::string record = std::move(line);
    line.clear();
    if (auto problem = TakeRecord(record)) {
        downloading = false;
        return Refuse("firmware record " + std::to_string(records + 1) + ": " + *problem, error);
    }
    return static_cast<int>(report::kFirmwareChunkLength);
}

namespace {
int HexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}
}  // namespace

std::optional<std::string> VirtualController::Core::TakeRecord(const std::string& record)
{
    if (record.size() < 11 || record[0] != ':' || record.size() % 2 == 0) {
        return "not an Intel HEX record";
    }
    std::vector<uint8_t> bytes;
    for (std::size_t i = 1; i + 1 < record.size(); i += 2) {
        const int hi = HexValue(record[i]);
        const int lo = HexValue(record[i + 1]);
        if (hi < 0 || lo < 0) {
            return "a character that is not a hex digit";
        }
        bytes.push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
    if (bytes.size() != static_cast<std::size_t>(bytes[0]) + 5) {
        return "byte count does not match the record";
    }
    unsigned sum = 0;
    for (uint8_t b : bytes) {
        sum += b;
    }
    if ((sum & 0xFF) != 0) {
        return "bad checksum";
    }
    const uint8_t type = bytes[3];
    const uint32_t offset = (static_cast<uint32_t>(bytes[1]) << 8) | bytes[2];
    switch (type) {
    case 0x00: {
        const uint32_t address = (upperAddress << 16) | offset;
        if (anyData && address != nextAddress) {
            return "data does not follow on from the last record";
        }
        anyData = true;
        nextAddress = address + bytes[0];
        break;
    }
    case 0x04:
        if (bytes[0] != 2) {
            return "extended linear address record of the wrong length";
        }
        upperAddress = (static_cast<uint32_t>(bytes[4]) << 8) | bytes[5];
        break;
    case 0x01:
        if (!anyData) {
            return "end of file before any data";
        }
        ++records;
        downloading = false;
        ++programmed;
        ScheduleReboot();  // programming complete
        return std::nullopt;
    default:
        break;  // other record types carry nothing the controller needs
    }
    ++records;
    return std::nullopt;
}

int VirtualController::Core::SetParameter(const uint8_t* data, int& error)
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

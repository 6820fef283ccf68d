// What is done to one unit through its handle: plugging, its memory, its faults and what it has received.
// Each call takes the unit's lock, so a handle is safe from any thread.
#include "sim/virtual_controller.h"

#include "sim/controller_core.h"

namespace sim {

void VirtualUnit::Plug()
{
    std::lock_guard lock(core_->mutex);
    core_->heldOut = false;
    core_->PlugLocked();
}

void VirtualUnit::Unplug()
{
    std::lock_guard lock(core_->mutex);
    core_->heldOut = true;
    core_->UnplugLocked();
}

bool VirtualUnit::IsPlugged() const
{
    std::lock_guard lock(core_->mutex);
    return core_->plugged;
}

const std::string& VirtualUnit::Path() const
{
    return core_->path;
}

Memory VirtualUnit::GetMemory() const
{
    std::lock_guard lock(core_->mutex);
    return core_->memory;
}

Memory VirtualUnit::SettledMemory() const
{
    std::lock_guard lock(core_->mutex);
    Memory memory = core_->memory;
    if (core_->rebootPending) {
        RunCarriedFirmware(memory);
    }
    return memory;
}

void VirtualUnit::SetMemory(const Memory& memory)
{
    std::lock_guard lock(core_->mutex);
    core_->memory = memory;
}

void VirtualUnit::SetStation(uint8_t stationByte)
{
    std::lock_guard lock(core_->mutex);
    core_->memory.station = stationByte;
}

void VirtualUnit::SetLineLevel(uint8_t levelByte)
{
    std::lock_guard lock(core_->mutex);
    core_->memory.level = levelByte;
}

void VirtualUnit::SetFirmware(uint8_t byte1, uint8_t byte2)
{
    std::lock_guard lock(core_->mutex);
    core_->memory.firmware1 = byte1;
    core_->memory.firmware2 = byte2;
}

int VirtualUnit::ChoiceValue(SettingAddress address) const
{
    const SettingSlot* slot = SlotAt(address);
    if (slot == nullptr || slot->kind != SlotKind::Choice) {
        return -1;
    }
    std::lock_guard lock(core_->mutex);
    auto it = core_->memory.choices.find(slot->settingsByte);
    return it == core_->memory.choices.end() ? -1 : it->second;
}

std::string VirtualUnit::Text(SettingAddress address) const
{
    const SettingSlot* slot = SlotAt(address);
    if (slot == nullptr || slot->kind != SlotKind::Text) {
        return {};
    }
    std::lock_guard lock(core_->mutex);
    auto it = core_->memory.texts.find(slot->settingsByte);
    return it == core_->memory.texts.end() ? std::string() : it->second;
}

void VirtualUnit::SetLatency(std::chrono::microseconds perTransfer)
{
    std::lock_guard lock(core_->mutex);
    core_->latency = perTransfer;
}

std::chrono::microseconds VirtualUnit::Latency() const
{
    std::lock_guard lock(core_->mutex);
    return core_->latency;
}

void VirtualUnit::FailNthTransfer(int n, int errnum)
{
    std::lock_guard lock(core_->mutex);
    core_->failAt = n > 0 ? core_->transfers + n : 0;
    core_->failErrno = errnum;
}

void VirtualUnit::FailFromNthTransfer(int n)
{
    std::lock_guard lock(core_->mutex);
    core_->failFrom = n > 0 ? core_->transfers + n : 0;
}

void VirtualUnit::PullOutAfterNthTransfer(int n)
{
    std::lock_guard lock(core_->mutex);
    core_->pullOutAt = n > 0 ? core_->transfers + n : 0;
}

void VirtualUnit::HoldNthTransfer(int n)
{
    std::lock_guard lock(core_->mutex);
    core_->holdAt = n > 0 ? core_->transfers + n : 0;
}

bool VirtualUnit::IsHoldingATransfer() const
{
    std::lock_guard lock(core_->mutex);
    return core_->holding;
}

void VirtualUnit::ReleaseHeldTransfer()
{
    {
        std::lock_guard lock(core_->mutex);
        core_->holdAt = 0;
        core_->holding = false;
    }
    core_->wake.notify_all();
}

void VirtualUnit::AnswerNextGet(uint8_t reportId, std::vector<uint8_t> bytes)
{
    std::lock_guard lock(core_->mutex);
    core_->cannedAnswers[reportId].push_back(std::move(bytes));
}

void VirtualUnit::ClearFaults()
{
    std::lock_guard lock(core_->mutex);
    core_->latency = std::chrono::microseconds{0};
    core_->failAt = core_->failFrom = core_->pullOutAt = 0;
    core_->cannedAnswers.clear();
}

int VirtualUnit::TransferCount() const
{
    std::lock_guard lock(core_->mutex);
    return core_->transfers;
}

std::vector<std::string> VirtualUnit::Refusals() const
{
    std::lock_guard lock(core_->mutex);
    return core_->refusals;
}

void VirtualUnit::SetRebootTimes(std::chrono::milliseconds disconnectDelay, std::chrono::milliseconds rebootDelay)
{
    std::lock_guard lock(core_->mutex);
    core_->disconnectDelay = disconnectDelay;
    core_->rebootDelay = rebootDelay;
}

bool VirtualUnit::InDownloadMode() const
{
    std::lock_guard lock(core_->mutex);
    return core_->downloading;
}

int VirtualUnit::ProgrammingCount() const
{
    std::lock_guard lock(core_->mutex);
    return core_->programmed;
}

int VirtualUnit::RecordsReceived() const
{
    std::lock_guard lock(core_->mutex);
    return core_->records;
}

}  // namespace sim

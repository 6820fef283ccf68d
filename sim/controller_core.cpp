// One unit at work: plugging in and out, each transfer paced and put through the injected faults before the
// protocol sees it, and the restart after programming.
#include "sim/controller_core.h"

#include "device/carried_firmware.h"
#include "sim/controller_reports.h"

#include <algorithm>

namespace sim {

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
        RunCarriedFirmware(memory);  // the settings stay as they were
        rebootPending = false;
        if (!heldOut) {
            PlugLocked();
        }
    });
}

void RunCarriedFirmware(Memory& memory)
{
    const FirmwareVersion carried = CarriedFirmwareVersion();
    const std::array<uint8_t, 2> bytes = reports::FirmwareBytes(carried.major, carried.minor, carried.build);
    memory.firmware1 = bytes[0];
    memory.firmware2 = bytes[1];
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
    // Every transfer is delayed by the latency, paced against absolute deadlines: a sleep that overshoots
    // once is made up by the next transfers of a stream rather than added to every one.
    std::chrono::steady_clock::time_point due;
    {
        std::lock_guard lock(mutex);
        if (latency.count() > 0) {
            const auto now = std::chrono::steady_clock::now();
            pacer = std::max(pacer, now) + latency;  // after a pause, pacing starts afresh from now
            due = pacer;
        }
    }
    // Some thread libraries (MinGW's) wake a little before the time asked for.
    while (due != std::chrono::steady_clock::time_point{} && std::chrono::steady_clock::now() < due) {
        std::this_thread::sleep_until(due);
    }

    std::unique_lock lock(mutex);
    if (holdAt != 0 && transfers + 1 == holdAt) {
        holdAt = 0;
        holding = true;
        wake.wait(lock, [this] { return !holding || shuttingDown; });
    }
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

}  // namespace sim

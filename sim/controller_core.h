// The virtual controller's inside, shared by its connections, its monitors and its reboot: the memory, the
// faults to inject, download mode, and the report protocol. Every member is guarded by `mutex`.
#pragma once

#include "sim/virtual_controller.h"

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

namespace sim {

class SimMonitor;

// The monitors of a bench, which hear every unit on it.
struct VirtualController::Hub {
    std::mutex mutex;  // taken after a unit's own mutex, never before
    std::vector<SimMonitor*> monitors;
};

// One controller on the bench.
struct VirtualController::Core {
    mutable std::mutex mutex;
    std::string path;  // fixed before the unit is shared
    std::shared_ptr<Hub> hub;
    Memory memory = FactoryMemory();
    bool plugged = true;
    bool heldOut = false;     // pulled out by hand: a reboot under way does not bring it back
    uint64_t generation = 1;  // a new connection on every plug
    std::chrono::microseconds latency{0};
    std::chrono::steady_clock::time_point pacer{};  // when the last paced transfer was due
    int transfers = 0;
    int failAt = 0;  // absolute transfer numbers; 0: none
    int failErrno = EIO;
    int failFrom = 0;
    int pullOutAt = 0;
    int holdAt = 0;
    bool holding = false;                                               // a transfer waits at `holdAt` until released
    std::map<uint8_t, std::deque<std::vector<uint8_t>>> cannedAnswers;  // per report ID, in order
    std::vector<std::string> refusals;

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
    std::optional<std::string> TakeRecord(const std::string& text);  // an error text when invalid
    void ScheduleReboot();
    int Refuse(std::string reason, int& error);
};

// The memory once the unit runs the firmware it was given: the image the tool carries.
void RunCarriedFirmware(Memory& memory);

}  // namespace sim

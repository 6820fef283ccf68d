// Which platform a program talks to: the real controller through the system's HID layer (device/system_platform.h), or
// the virtual one (its memory kept in a state file when one is given). Both programs and the emulator choose here.
#pragma once

#include "device/hid_platform.h"
#include "device/hotplug.h"
#include "sim/state_file.h"
#include "sim/virtual_controller.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

struct BackendOptions {
    bool simulate = false;
    std::string statePath;                         // with simulate: the memory between runs
    sim::VirtualController* controller = nullptr;  // with simulate: this one instead of a new one (tests)
    std::function<void()> waitingForState;         // called once when another run holds the state file's lock
};

class Backend {
public:
    // Nothing, with the reason, when the state file cannot be used.
    static std::optional<Backend> Open(const BackendOptions& options, std::string& error);

    HidPlatform& Platform() const { return *platform_; }
    // Plug and pull-out notifications of this platform; null when none can be had.
    std::unique_ptr<HotplugMonitor> CreateMonitor() const;
    // The virtual controller, or null on the real backend.
    sim::VirtualController* Controller() const { return controller_; }
    // Keeps the memory of the unit the state file was loaded into (the bench's first, whatever came after it)
    // in the state file, if one was given and the memory changed.
    bool SaveState(std::string& error) const;
    std::string StatePath() const { return state_ ? state_->Path() : std::string(); }

private:
    std::shared_ptr<sim::VirtualController> owned_;
    sim::VirtualController* controller_ = nullptr;
    std::shared_ptr<HidPlatform> system_;
    HidPlatform* platform_ = nullptr;
    std::shared_ptr<sim::StateFile> state_;  // held, with its lock, for the whole run
    std::string stateUnit_;                  // the unit whose memory the state file holds
};

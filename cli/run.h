// One run of doorphonectl: the backend the options chose, the device link over it, where to speak, and
// the steps every command shares (finding the controller, reading it, waiting for it to come and go).
#pragma once

#include "cli/doorphonectl.h"
#include "device/device_link.h"
#include "device/hotplug.h"
#include "settings/snapshot.h"
#include "sim/backend.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>

class CliRun {
public:
    CliRun(CliIo& io, const CliTestHooks& hooks) : io(io), hooks(hooks) {}
    ~CliRun() { Finish(); }
    CliRun(const CliRun&) = delete;
    CliRun& operator=(const CliRun&) = delete;

    // Chooses the real controller or the virtual one (its memory loaded from `state` when given).
    bool Open(bool simulate, const std::string& state, const std::string& wireLog);
    // Keeps the virtual controller's memory for the next run; false, having said why, when it cannot.
    bool Finish();

    // Says `message` on standard error and returns `code`.
    int Fail(int code, const std::string& message);
    // Finds the controller and sees that it answers, as the window does at start.
    bool Connect();
    bool Read(SettingsSnapshot& snapshot);
    // The read after a write: when it fails, says what was written all the same.
    bool ReadBack(SettingsSnapshot& snapshot, const std::string& written);
    // Waits for a notification of `action` after which the controller is `present`, at most `limit`.
    bool WaitFor(HotplugMonitor& monitor, HotplugAction action, bool present, std::chrono::milliseconds limit);

    DeviceLink& Link() { return *link_; }
    sim::Backend& Backend() { return *backend_; }

    CliIo& io;
    const CliTestHooks& hooks;

private:
    std::optional<sim::Backend> backend_;
    std::unique_ptr<DeviceLink> link_;
};

// The arguments of whichever command runs.
struct CommandArgs {
    bool json = false;
    std::string key;
    std::string value;
    std::string file;
    bool yes = false;
    bool dryRun = false;
};

// The commands, one function each.
int ListCommand(CliRun& run, const CommandArgs& args);
int ShowCommand(CliRun& run, const CommandArgs& args);
int GetCommand(CliRun& run, const CommandArgs& args);
int KeysCommand(CliRun& run, const CommandArgs& args);
int ExportCommand(CliRun& run, const CommandArgs& args);
int SetCommand(CliRun& run, const CommandArgs& args);
int RestoreDefaultsCommand(CliRun& run, const CommandArgs& args);
int ImportCommand(CliRun& run, const CommandArgs& args);
int FlashCommand(CliRun& run, const CommandArgs& args);

// "unknown setting "x" (see: doorphonectl keys)"
std::string UnknownSetting(const std::string& key);

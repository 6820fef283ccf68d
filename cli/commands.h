// doorphonectl's commands, one function each, and what they share: the run (CliRun: the backend the options
// chose, the session over it, where to speak, finding and reading the controller) and the steps several
// commands take (the install with its restart, a profile applied, the texts of a failure).
#pragma once

#include "backend/platform_choice.h"
#include "cli/doorphonectl.h"
#include "device/device_link.h"
#include "device/hotplug.h"
#include "session/controller_session.h"
#include "settings/snapshot.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class StopOnSignals;
class StopRequest;
struct ProfileContents;
class WireLog;

class CliRun {
public:
    CliRun(CliIo& io, const CliTestHooks& hooks);
    // A run beside `parent` for one of several controllers worked on at once: the parent's backend and wire log
    // (each line led by `unit`) and its way of changing, a device link and session of its own, and `io`.
    CliRun(CliRun& parent, CliIo& io, const std::string& unit);
    ~CliRun();
    CliRun(const CliRun&) = delete;
    CliRun& operator=(const CliRun&) = delete;

    // Chooses the real controller or the virtual one (its memory loaded from `state` when given).
    bool Open(bool simulate, const std::string& state, const std::string& wireLog);
    // Keeps the virtual controller's memory for the next run; false, having said why, when it cannot.
    bool Finish();
    // Whether every line of the wire log was written; false, having said why, when one was not.
    bool WireLogKept();

    // For a command that changes a controller: from now to the run's end SIGINT, SIGTERM and SIGHUP request
    // this stop instead of ending the process (in tests: the hooks' request).
    StopRequest& CatchStopSignals();

    // After a stop from the terminal, whose echo left "^C" where the cursor stood: a newline on `to` (when it
    // is the terminal) before the next text, once, so that a message or a result starts a line of its own.
    void EndTheStopsLine(std::ostream& to, bool toTerminal);
    // The same as text, for a writer that puts it out with its own line: "\n" once after a stop, else empty.
    std::string StopsLineBreak(bool toTerminal);
    // Says `message` on standard error (unless quiet) and returns `code`; LastFailure() keeps it.
    int Fail(int code, const std::string& message);
    const std::string& LastFailure() const { return lastFailure_; }
    // Quiet while a caller reports failures its own way (provision: in the unit's result line).
    void SayFailures(bool say) { sayFailures_ = say; }
    // The controller to talk to: exactly the one at `path` (--device), or the first found when empty.
    void UseDevice(std::string path) { devicePath_ = std::move(path); }
    const std::string& ChosenDevice() const { return devicePath_; }
    // With no --device and more than one controller attached: a command that `changes` something refuses
    // (false, exit 2, the candidates listed); one that reads says on standard error which it reads.
    bool ChooseAmong(bool changes);
    // A run that changes the controller holds it from Connect on, as `me` ("doorphonectl set").
    void ChangeAs(std::string me) { changeAs_ = std::move(me); }
    // The change may install firmware: its hold lasts through the controller's restart.
    void HoldThroughRestart() { throughRestart_ = true; }
    // Finds the controller and sees that it answers, as the window does at start; for a change, holds it
    // against other programs (refused, with the holder named, while another program holds it).
    bool Connect();
    // Holds the controller open now (Connect does for a change; an install again once it is back): empty,
    // or why not ("is in use by doorphonectl, process 4711 of user alice"); nothing when it left before it
    // could be held.
    std::optional<std::string> HoldRefusal();
    bool Read(SettingsSnapshot& snapshot);
    // The read after a write: when it fails, says what was written all the same.
    bool ReadBack(SettingsSnapshot& snapshot, const std::string& written);

    ControllerSession& Session() { return *session_; }
    ::Backend& Backend() { return parent_ ? parent_->Backend() : *backend_; }

    CliIo& io;
    const CliTestHooks& hooks;
    // Where one of several controllers worked on at once says its step: the install calls it with its
    // percent instead of drawing its own bar.
    std::function<void(const std::string& step, int percent)> onStep;

private:
    CliRun* parent_ = nullptr;  // a worker's run: the one whose backend it uses
    std::string devicePath_;
    std::string changeAs_;
    bool throughRestart_ = false;
    std::string lastFailure_;
    bool sayFailures_ = true;
    const StopRequest* stop_ = nullptr;  // from CatchStopSignals
    bool stopsLineEnded_ = false;
    std::optional<::Backend> backend_;
    std::shared_ptr<WireLog> wireLog_;
    std::unique_ptr<StopRequest> ownStop_;
    std::unique_ptr<StopOnSignals> signals_;  // after ownStop_, so that it goes first
    std::unique_ptr<DeviceLink> link_;
    std::unique_ptr<ControllerSession> session_;
};

// The arguments of whichever command runs.
struct CommandArgs {
    bool json = false;
    std::string key;
    std::string value;
    std::string file;
    bool yes = false;
    bool dryRun = false;
    bool flash = false;
    bool once = false;  // provision: as count 1
    int count = 0;      // provision: end once this many controllers have a result; 0: until a stop
    int jobs = 0;       // provision: at most this many controllers at once; 0: every one present
    std::string log;
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
int ProvisionCommand(CliRun& run, const CommandArgs& args);

// The steps provision shares with flash and import, on the controller Connect opened.

// Installs the carried firmware, waits for the controller's restart (watched by `monitor` since before the
// first chunk) and restores its defaults, as the window does. The controller may come back on a new path;
// the run then uses that one.
struct FirmwareInstall {
    int code = kExitDone;  // or kExitDevice, with `failure`
    std::string failure;   // what happened and what state the controller is in
    bool interrupted = false;
    bool programmed = false;      // every line was sent: the controller restarts on the carried firmware
    std::string otherController;  // the path of another controller that came back in its place, if one did
    FirmwareVersion now{};
};
// `before` is what a read of the controller returned just before.
FirmwareInstall InstallFirmware(CliRun& run, const SettingsSnapshot& before, HotplugMonitor* monitor,
                                const StopRequest* stop);

// Writes the settings of `contents` that differ from `held` (just read), each said on `detail`, then reads
// back. Nothing is sent when the profile breaks a rule on this controller.
struct ProfileApplied {
    int code = kExitDone;  // kExitUsage: a rule; kExitDevice: a transfer, the read back, or a value not taken
    std::vector<std::string> failures;
    bool interrupted = false;
    int written = 0;
    int changes = 0;
};
ProfileApplied ApplyProfile(CliRun& run, const ProfileContents& contents, const SettingsSnapshot& held, bool dryRun,
                            std::ostream& detail, const StopRequest* stop = nullptr);

// "the controller took WRITTEN, but reading it back failed: why", for the read after a write that failed.
std::string ReadBackFailure(const std::string& written);

// "unknown setting "x"; did you mean "y"? (see: doorphonectl keys)", naming up to three keys nearest to it.
std::string UnknownSetting(const std::string& key);
std::vector<std::string> NearestKeys(const std::string& typed);

// The device link's last error in the system's words (without the HID library's "ioctl (...): ").
std::string LinkError();

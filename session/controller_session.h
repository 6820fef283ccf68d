// The one conversation with the controller that both programs hold: finding it and seeing that it answers,
// reading its settings, writing one setting or every default, and installing the carried firmware with the
// restore of the defaults that an install owes the controller's return. The window calls it from its
// handlers and its install worker, doorphonectl from its commands; each says in its own way what a result
// means. No window and no console here.
#pragma once

#include "device/device_link.h"
#include "device/firmware_stream.h"
#include "device/hotplug.h"
#include "session/stop_request.h"
#include "settings/setting_value.h"
#include "settings/snapshot.h"

#include <chrono>
#include <optional>
#include <string>

class ControllerSession {
public:
    explicit ControllerSession(DeviceLink& link) : link_(link) {}
    ControllerSession(const ControllerSession&) = delete;
    ControllerSession& operator=(const ControllerSession&) = delete;

    DeviceLink& Link() { return link_; }
    // The system's text for the last transfer that failed on the calling thread.
    static std::string LastError() { return DeviceLink::LastError(); }

    // Finds the first controller, or exactly the one at `path`, and keeps it open; no transfer.
    bool FindDevice(const std::string& path = {});
    // Then reads the status report to see that the controller answers.
    bool ProbeDevice(const std::string& path = {});

    // The settings report, then the string-pool report, each read into `into` in place. False when either
    // transfer failed; a settings report that came before a failed pool read stays in `into`.
    bool ReadSettings(SettingsSnapshot& into);

    // One parameter report each, through the shared report buffer; true when the controller took it.
    bool WriteChoice(const CatalogueEntry& entry, int position);
    bool WriteText(const CatalogueEntry& entry, const std::string& text);
    bool Write(const SettingValue& value);
    bool RestoreDefaults();

    // The install. From its confirmation on, the controller is owed a restore of its defaults, which the
    // next connection pays (RestoreOwedDefaults) whatever happens to the install in between.
    void BeginInstall() { updatePending_ = true; }
    bool UpdatePending() const { return updatePending_; }
    void SetUpdatePending(bool pending) { updatePending_ = pending; }
    // The boot report, then the carried image through `stream`, on the calling thread (the window's worker
    // or the command line). True when every line was sent.
    static bool RunInstall(FirmwareStream& stream, const FirmwareStream::ProgressHook& progress);
    // After a connection's read: the restore an install owes, sent once. Nothing when none was owed, else
    // whether the controller took it (it is not owed again either way).
    std::optional<bool> RestoreOwedDefaults();

    // Waiting for the controller where the caller blocks (the command line; the window follows the same
    // events from its event loop). A stop request ends each wait at once.
    // Whether the controller at `path` left within `limit`.
    bool AwaitLeave(HotplugMonitor& monitor, const std::string& path, std::chrono::milliseconds limit,
                    const StopRequest* stop = nullptr);
    // The path of a controller that arrived within `limit`, or empty.
    std::string AwaitArrival(HotplugMonitor& monitor, std::chrono::milliseconds limit, const StopRequest* stop = nullptr);
    // False when a stop came first.
    static bool Pause(std::chrono::milliseconds time, const StopRequest* stop);

private:
    DeviceLink& link_;
    bool updatePending_ = false;
};

// The one conversation with the controller that both programs hold: finding it and seeing that it answers,
// reading its settings, writing one setting or every default, and installing the carried firmware with the
// restore of the defaults that an install owes the controller's return. The window calls it from its
// handlers and its install worker, doorphonectl from its commands; each says in its own way what a result
// means. No window and no console here.
#pragma once

#include "device/controller_hold.h"
#include "device/device_link.h"
#include "device/firmware_stream.h"
#include "session/stop_request.h"
#include "settings/setting_value.h"
#include "settings/snapshot.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace controller {
// What an install that did not end may leave, and the way out: the words both programs use.
constexpr const char* kUnfinishedProgramming =
    "the controller did not finish programming and may still wait in download mode with its old firmware: "
    "pull it out and plug it in again";
}  // namespace controller

// Where an install's stream reports.
struct InstallReports {
    // A failed chunk's system text: shown, and returns once dismissed. Called only within RunInstall.
    FirmwareStream::ErrorHook onChunkError;
    std::FILE* trace = nullptr;         // the stream's trace; none when null
    FirmwareStream::ImageSource image;  // the carried image when empty
};

class ControllerSession {
public:
    explicit ControllerSession(DeviceLink& link) : link_(link) {}
    ControllerSession(const ControllerSession&) = delete;
    ControllerSession& operator=(const ControllerSession&) = delete;

    // The path of the controller open now, or empty.
    std::string DevicePath() const { return link_.DevicePath(); }
    bool HasDevice() const { return link_.HasDevice(); }
    // How many controllers are attached, whether this user may open them or not; each counts once. The one
    // whose removal is being handled (`leaving`) no longer counts, even while the listing still shows it.
    std::size_t ControllersAttached(const std::string& leaving = {});
    // Every controller attached, in the platform's order (each counts once).
    std::vector<HidDeviceInfo> Controllers() { return link_.Controllers(); }
    // After a search that found no controller: the path of one present that this user may not open, or empty.
    std::string InaccessiblePath() const { return link_.InaccessiblePath(); }
    // The system's text for the last transfer that failed on the calling thread.
    static std::string LastError() { return DeviceLink::LastError(); }

    // Finds the first controller, or exactly the one at `path`, and keeps it open; no transfer.
    bool FindDevice(const std::string& path = {});
    // Then reads the status report to see that the controller answers.
    bool ProbeDevice(const std::string& path = {}) { return FindDevice(path) && ReadStatus(); }
    bool ReadStatus();

    // The settings report, then the string-pool report, each read into `into` in place. False when either
    // transfer failed; a settings report that came before a failed pool read stays in `into`.
    bool ReadSettings(SettingsSnapshot& into);

    // One program at a time: holds the controller open now against every other program that would change
    // it, until Release, the end of the session, or a hold on another controller. Holding the same
    // controller again (the same USB port, so also after its restart, at its new node) keeps the hold. With
    // `throughRestart` the hold lasts through an install's restart. False when it cannot be had: `heldBy`
    // names the program that holds it, or `error` says what keeps this one from holding it; neither when the
    // controller left before it could be held (then none is open). Nothing to hold on a virtual controller,
    // which is this program's own.
    bool Hold(std::string& heldBy, std::string& error, bool throughRestart = false);
    void Release() { hold_.reset(); }
    bool Holds() const { return hold_ != nullptr; }

    // One parameter report each, through the shared report buffer; true when the controller took it.
    bool WriteChoice(const CatalogueEntry& entry, int position);
    bool WriteText(const CatalogueEntry& entry, const std::string& text);
    bool Write(const SettingValue& value);
    bool RestoreDefaults();

    // The install. From its confirmation on, the controller being programmed is owed a restore of its
    // defaults, which the next connection of that controller pays (RestoreOwedDefaults) whatever happens to
    // the install in between. `before` is what a read of it returned just before programming, if one did.
    // The install's stream goes to the controller open now; `reports` says where it reports.
    void BeginInstall(const SettingsSnapshot* before, InstallReports reports = {});
    bool UpdatePending() const { return updatePending_; }
    void SetUpdatePending(bool pending) { updatePending_ = pending; }
    // The boot report, then the image of the install begun last, on the calling thread (the window's worker
    // or the command line). With `needBootReport`, a refused boot report ends the install before any chunk;
    // without, the first chunk meets whatever state the controller is in, as in the window.
    enum class Streamed { AllLines, Failed, BootRefused };
    Streamed RunInstall(const FirmwareStream::ProgressHook& progress, bool needBootReport = false);
    // From any thread: no transfer of the install starts after this; the one in flight finishes.
    void StopInstall();
    bool InstallStopRequested() const;
    // Whether the controller open now, which a read just returned as `now`, is the one being programmed, as
    // far as can be seen (the controller has no serial number): it is plugged in where that one was, holds
    // the settings read before programming, and runs the carried firmware, or, unless every line was sent,
    // the firmware it ran before.
    bool IsProgrammedUnit(const SettingsSnapshot& now) const { return !DifferenceFromProgrammed(now); }
    // What tells `now` apart from the programmed controller ("it runs firmware 1.05.2, not 2.01.0"); nothing
    // when nothing does.
    std::optional<std::string> DifferenceFromProgrammed(const SettingsSnapshot& now) const;
    enum class OwedRestore { None, Sent, Refused, OtherController };
    // After a connection's read (`now`, or nothing when it failed, when only where it is plugged in can
    // tell): the restore an install owes, sent once to the programmed controller. Another controller gets
    // nothing, and the restore stays owed.
    OwedRestore RestoreOwedDefaults(const SettingsSnapshot* now);

    // False when a stop came first.
    static bool Pause(std::chrono::milliseconds time, const StopRequest* stop);

private:
    bool OtherLocation() const;  // the controller open now is plugged in elsewhere than the programmed one

    DeviceLink& link_;
    std::unique_ptr<ControllerHold> hold_;
    bool updatePending_ = false;
    // The controller being programmed, as it was seen just before.
    struct Programmed {
        std::string location;
        std::optional<SettingsSnapshot> before;
    } programmed_;
    std::atomic<bool> allLinesSent_{false};  // set by the install's thread, read by the caller's
    // The install begun last; replaced by the caller's thread only, while no install runs. A mutex rather than
    // std::atomic<std::shared_ptr>, whose wait in GCC 12's library can hang for good on Windows.
    std::shared_ptr<FirmwareStream> Stream() const;
    mutable std::mutex streamMutex_;
    std::shared_ptr<FirmwareStream> stream_;
};

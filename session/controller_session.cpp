#include "session/controller_session.h"

#include <utility>

#include "device/carried_firmware.h"
#include "device/reports.h"

#include "portable/wait.h"

#include <algorithm>

bool ControllerSession::FindDevice(const std::string& path)
{
    return path.empty() ? link_.FindDevice() : link_.OpenPath(path);
}

std::size_t ControllerSession::ControllersAttached(const std::string& leaving)
{
    const std::vector<HidDeviceInfo> controllers = link_.Controllers();
    return static_cast<std::size_t>(std::count_if(controllers.begin(), controllers.end(),
                                                  [&](const HidDeviceInfo& c) { return c.path != leaving; }));
}

bool ControllerSession::ReadStatus()
{
    if (!link_.GetShortReport(report::kStatusId)) {
        return false;
    }
    // The status byte is looked at, but nothing depends on it.
    [[maybe_unused]] const bool statusClear = link_.ReportBuffer()[report::kStatusProbeByte] == 0;
    return true;
}

bool ControllerSession::ReadSettings(SettingsSnapshot& into)
{
    into.settings[0] = report::kSettingsId;
    if (!link_.GetFeature(into.settings.data(), report::kSettingsLength)) {
        return false;
    }
    into.pool[0] = report::kStringPoolId;
    return link_.GetFeature(into.pool.data(), report::kStringPoolLength);
}

bool ControllerSession::WriteChoice(const CatalogueEntry& entry, int position)
{
    return link_.SendNumericParameter(entry.address.group, entry.address.index, position);
}

bool ControllerSession::WriteText(const CatalogueEntry& entry, const std::string& text)
{
    return link_.SendStringParameter(entry.address.group, entry.address.index, static_cast<int>(text.size()),
                                     text.c_str());
}

bool ControllerSession::Write(const SettingValue& value)
{
    return value.entry->kind == EntryKind::Choice ? WriteChoice(*value.entry, value.position)
                                                  : WriteText(*value.entry, value.text);
}

bool ControllerSession::RestoreDefaults()
{
    return link_.SendRestoreDefaults();
}

bool ControllerSession::Hold(std::string& heldBy, std::string& error, bool throughRestart)
{
    if (!link_.Platform().SharedWithOtherPrograms()) {
        return true;
    }
    const std::string location = link_.DeviceLocation();
    const std::string key = location.empty() ? link_.DevicePath() : "usb-" + location;
    ControllerHold::Attempt attempt;
    if (hold_ && hold_->Key() == key) {
        attempt = hold_->MoveTo(link_.DevicePath());
        if (attempt.heldBy.empty() && attempt.error.empty() &&
            (!throughRestart || hold_->KeepThroughRestart(attempt.error))) {
            return true;
        }
    } else {
        hold_.reset();
        attempt = ControllerHold::Take(key, link_.DevicePath(), throughRestart);
        hold_ = std::move(attempt.hold);
    }
    if (hold_ && attempt.heldBy.empty() && attempt.error.empty()) {
        return true;
    }
    hold_.reset();  // never a change unguarded
    // A controller that left between its listing and the hold (a restart, a pull-out) is simply not there.
    if (attempt.heldBy.empty() && !FindDevice(link_.DevicePath())) {
        return false;
    }
    heldBy = attempt.heldBy;
    error = attempt.error;
    return false;
}

void ControllerSession::BeginInstall(const SettingsSnapshot* before, InstallReports reports)
{
    auto stream = reports.image
                      ? std::make_shared<FirmwareStream>(link_, std::move(reports.onChunkError), reports.trace,
                                                         std::move(reports.image))
                      : std::make_shared<FirmwareStream>(link_, std::move(reports.onChunkError), reports.trace);
    {
        const std::lock_guard lock(streamMutex_);
        stream_ = std::move(stream);
    }
    updatePending_ = true;
    allLinesSent_ = false;
    programmed_.location = link_.DeviceLocation();
    programmed_.before = before ? std::optional<SettingsSnapshot>(*before) : std::nullopt;
}

ControllerSession::Streamed ControllerSession::RunInstall(const FirmwareStream::ProgressHook& progress,
                                                          bool needBootReport)
{
    const std::shared_ptr<FirmwareStream> stream = Stream();
    if (!stream) {
        return Streamed::Failed;  // no install begun
    }
    if (!stream->SendBootReport() && needBootReport) {
        return Streamed::BootRefused;
    }
    const bool ok = stream->StreamFirmwareImage(progress);
    allLinesSent_ = ok;
    return ok ? Streamed::AllLines : Streamed::Failed;
}

std::shared_ptr<FirmwareStream> ControllerSession::Stream() const
{
    const std::lock_guard lock(streamMutex_);
    return stream_;
}

void ControllerSession::StopInstall()
{
    if (const std::shared_ptr<FirmwareStream> stream = Stream()) {
        stream->RequestStop();
    }
}

bool ControllerSession::InstallStopRequested() const
{
    const std::shared_ptr<FirmwareStream> stream = Stream();
    return stream && stream->StopRequested();
}

bool ControllerSession::OtherLocation() const
{
    const std::string location = link_.DeviceLocation();
    return !location.empty() && !programmed_.location.empty() && location != programmed_.location;
}

std::optional<std::string> ControllerSession::DifferenceFromProgrammed(const SettingsSnapshot& now) const
{
    if (OtherLocation()) {
        return "it is plugged in at another USB port (" + link_.DeviceLocation() + ", not " + programmed_.location +
               ")";
    }
    if (!programmed_.before) {
        return std::nullopt;  // nothing more can be seen
    }
    const FirmwareVersion firmware = now.Firmware();
    const bool firmwareFits =
        firmware == CarriedFirmwareVersion() || (!allLinesSent_ && firmware == programmed_.before->Firmware());
    if (!firmwareFits) {
        return "it runs firmware " + FormatFirmwareVersion(firmware) + ", not " +
               FormatFirmwareVersion(CarriedFirmwareVersion());
    }
    if (!SameSettings(now, *programmed_.before)) {
        return std::string("its settings differ from those read before programming");
    }
    return std::nullopt;
}

ControllerSession::OwedRestore ControllerSession::RestoreOwedDefaults(const SettingsSnapshot* now)
{
    if (!updatePending_) {
        return OwedRestore::None;
    }
    // Without a read, where it is plugged in is all there is to judge by.
    const bool programmedUnit = now != nullptr ? IsProgrammedUnit(*now) : !OtherLocation();
    if (!programmedUnit) {
        return OwedRestore::OtherController;
    }
    updatePending_ = false;  // cleared even when the controller refuses it: it is sent once
    return RestoreDefaults() ? OwedRestore::Sent : OwedRestore::Refused;
}

bool ControllerSession::Pause(std::chrono::milliseconds time, const StopRequest* stop)
{
    const portable::WaitHandle handles[] = {stop ? stop->Waitable() : portable::kNoWaitHandle};  // none: a plain sleep
    const auto deadline = std::chrono::steady_clock::now() + time;
    while (!(stop && stop->Requested())) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return true;
        }
        portable::WaitForAny(handles, static_cast<int>(left.count()));
    }
    return false;
}

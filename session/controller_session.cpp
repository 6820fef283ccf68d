#include "session/controller_session.h"

#include "device/reports.h"

#include <poll.h>

#include <algorithm>

bool ControllerSession::FindDevice(const std::string& path)
{
    return path.empty() ? link_.FindDevice() : link_.OpenPath(path);
}

bool ControllerSession::ProbeDevice(const std::string& path)
{
    if (!FindDevice(path) || !link_.GetShortReport(report::kStatusId)) {
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

bool ControllerSession::RunInstall(FirmwareStream& stream, const FirmwareStream::ProgressHook& progress)
{
    stream.SendBootReport();  // not examined: the first chunk meets whatever state the controller is in
    return stream.StreamFirmwareImage(progress);
}

std::optional<bool> ControllerSession::RestoreOwedDefaults()
{
    if (!updatePending_) {
        return std::nullopt;
    }
    updatePending_ = false;  // cleared even when the controller refuses it: it is sent once
    return RestoreDefaults();
}

namespace {

// Waits until `monitor` has events, `stop` is requested, or `deadline` passes. False on a stop or the deadline.
bool AwaitEvents(HotplugMonitor& monitor, std::chrono::steady_clock::time_point deadline, const StopRequest* stop)
{
    for (;;) {
        if (stop && stop->Requested()) {
            return false;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd p[2] = {{monitor.Fd(), POLLIN, 0}, {stop ? stop->Fd() : -1, POLLIN, 0}};
        if (poll(p, 2, static_cast<int>(std::min<long long>(left.count(), 1000))) > 0 && (p[0].revents & POLLIN)) {
            return true;
        }
    }
}

}  // namespace

bool ControllerSession::AwaitLeave(HotplugMonitor& monitor, const std::string& path, std::chrono::milliseconds limit,
                                   const StopRequest* stop)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    auto present = [&] {
        const std::vector<HidDeviceInfo> found = link_.Controllers();
        return std::any_of(found.begin(), found.end(), [&](const HidDeviceInfo& i) { return i.path == path; });
    };
    // The controller may have left before the monitor could say so.
    if (!present()) {
        return true;
    }
    while (AwaitEvents(monitor, deadline, stop)) {
        for (const HotplugEvent& event : monitor.ReadEvents()) {
            // Its sysfs entry may outlive the event by a moment; the event is what counts.
            if (event.action == HotplugAction::Remove && event.devicePath == path) {
                return true;
            }
        }
    }
    return false;
}

std::string ControllerSession::AwaitArrival(HotplugMonitor& monitor, std::chrono::milliseconds limit,
                                            const StopRequest* stop)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (AwaitEvents(monitor, deadline, stop)) {
        for (const HotplugEvent& event : monitor.ReadEvents()) {
            if (event.action != HotplugAction::Add) {
                continue;
            }
            // Other devices of the machine come and go too; only a controller counts.
            for (const HidDeviceInfo& info : link_.Controllers()) {
                if (info.path == event.devicePath) {
                    return info.path;
                }
            }
        }
    }
    return {};
}

bool ControllerSession::Pause(std::chrono::milliseconds time, const StopRequest* stop)
{
    pollfd p{stop ? stop->Fd() : -1, POLLIN, 0};  // poll skips a negative descriptor: a plain sleep
    const auto deadline = std::chrono::steady_clock::now() + time;
    while (!(stop && stop->Requested())) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return true;
        }
        poll(&p, 1, static_cast<int>(left.count()));
    }
    return false;
}

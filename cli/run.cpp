#include "cli/run.h"

#include "cli/stop_request.h"
#include "device/wire_log.h"
#include "settings/text_encoding.h"

#include <poll.h>

#include <algorithm>

bool CliRun::Open(bool simulate, const std::string& state, const std::string& wireLog)
{
    std::string error;
    backend_ = Backend::Open({simulate, state, hooks.controller}, error);
    if (!backend_) {
        return Fail(kExitUsage, "cannot use the state file " + state + ": " + error), false;
    }
    link_ = std::make_unique<DeviceLink>(backend_->Platform());
    if (!wireLog.empty()) {
        std::shared_ptr<WireLog> log = WireLog::Open(wireLog, error);
        if (!log) {
            return Fail(kExitUsage, "cannot open the wire log " + wireLog + ": " + error), false;
        }
        link_->SetWireLog(log);
    }
    return true;
}

bool CliRun::Finish()
{
    bool saved = true;
    if (backend_) {
        std::string error;
        if (!backend_->SaveState(error)) {
            io.err << "doorphonectl: cannot save the state file " << backend_->StatePath() << ": " << error
                   << "; the change is not kept\n";
            saved = false;
        }
        backend_.reset();
    }
    return saved;
}

int CliRun::Fail(int code, const std::string& message)
{
    lastFailure_ = message;
    if (sayFailures_) {
        io.err << "doorphonectl: " << message << "\n";
    }
    return code;
}

bool CliRun::ChooseAmong(bool changes)
{
    if (!devicePath_.empty()) {
        return true;
    }
    const std::vector<HidDeviceInfo> found = link_->Controllers();
    if (found.size() < 2) {
        return true;
    }
    if (changes) {
        std::string list;
        for (const HidDeviceInfo& info : found) {
            list += "\n  " + info.path;
        }
        Fail(kExitUsage, std::to_string(found.size()) +
                             " controllers are attached; choose the one to change with --device PATH:" + list);
        return false;
    }
    io.err << "doorphonectl: " << found.size() << " controllers are attached; reading the first, " << found.front().path
           << " (choose another with --device PATH)\n";
    return true;
}

bool CliRun::Connect()
{
    const bool found = devicePath_.empty() ? link_->FindDevice() : link_->OpenPath(devicePath_);
    if (found && link_->GetShortReport(report::kStatusId)) {
        return true;
    }
    if (const std::string denied = link_->InaccessiblePath(); !denied.empty()) {
        Fail(kExitDevice, controller::AccessAdvice(denied));
        return false;
    }
    if (link_->HasDevice()) {
        Fail(kExitDevice,
             "the controller at " + link_->DevicePath() + " does not answer the status read: " + DeviceLink::LastError());
        return false;
    }
    if (!devicePath_.empty()) {
        Fail(kExitDevice, "no controller at " + devicePath_ + " (see: doorphonectl list)");
        return false;
    }
    Fail(kExitDevice, "no controller found (is it plugged in?)");
    return false;
}

bool CliRun::Read(SettingsSnapshot& snapshot)
{
    if (ReadSnapshot(*link_, snapshot)) {
        return true;
    }
    Fail(kExitDevice, "the controller did not answer the settings read: " + DeviceLink::LastError());
    return false;
}

bool CliRun::ReadBack(SettingsSnapshot& snapshot, const std::string& written)
{
    if (ReadSnapshot(*link_, snapshot)) {
        return true;
    }
    Fail(kExitDevice, ReadBackFailure(written));
    return false;
}

std::string ReadBackFailure(const std::string& written)
{
    return "the controller took " + written + ", but reading it back failed: " + DeviceLink::LastError();
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

bool CliRun::WaitForLeave(HotplugMonitor& monitor, const std::string& path, std::chrono::milliseconds limit,
                          const StopRequest* stop)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    auto present = [&] {
        const std::vector<HidDeviceInfo> found = link_->Controllers();
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

std::string CliRun::WaitForArrival(HotplugMonitor& monitor, std::chrono::milliseconds limit, const StopRequest* stop)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (AwaitEvents(monitor, deadline, stop)) {
        for (const HotplugEvent& event : monitor.ReadEvents()) {
            if (event.action != HotplugAction::Add) {
                continue;
            }
            // Other devices of the machine come and go too; only a controller counts.
            for (const HidDeviceInfo& info : link_->Controllers()) {
                if (info.path == event.devicePath) {
                    return info.path;
                }
            }
        }
    }
    return {};
}

bool CliRun::Pause(std::chrono::milliseconds time, const StopRequest* stop)
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

std::string UnknownSetting(const std::string& key)
{
    return "unknown setting \"" + Excerpt(key) + "\" (see: doorphonectl keys)";
}

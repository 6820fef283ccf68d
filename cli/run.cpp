#include "cli/run.h"

#include "device/wire_log.h"
#include "settings/text_encoding.h"

#include <poll.h>

#include <algorithm>

bool CliRun::Open(bool simulate, const std::string& state, const std::string& wireLog)
{
    std::string error;
    backend_ = sim::Backend::Open({simulate, state, hooks.controller}, error);
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
    io.err << "doorphonectl: " << message << "\n";
    return code;
}

bool CliRun::Connect()
{
    if (link_->FindDevice() && link_->GetShortReport(report::kStatusId)) {
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
    Fail(kExitDevice, "the controller took " + written + ", but reading it back failed: " + DeviceLink::LastError());
    return false;
}

bool CliRun::WaitFor(HotplugMonitor& monitor, HotplugAction action, bool present, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        for (const HotplugEvent& event : monitor.ReadEvents()) {
            if (event.action == action && event.devicePath.size() >= 5 && link_->FindDevice() == present) {
                return true;
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd p{monitor.Fd(), POLLIN, 0};
        poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
    }
}

std::string UnknownSetting(const std::string& key)
{
    return "unknown setting \"" + Excerpt(key) + "\" (see: doorphonectl keys)";
}

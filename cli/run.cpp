#include "cli/run.h"

#include "session/stop_request.h"
#include "device/wire_log.h"
#include "settings/text_encoding.h"

#include <algorithm>

bool CliRun::Open(bool simulate, const std::string& state, const std::string& wireLog)
{
    std::string error;
    backend_ = Backend::Open({simulate, state, hooks.controller}, error);
    if (!backend_) {
        return Fail(kExitUsage, "cannot use the state file " + state + ": " + error), false;
    }
    link_ = std::make_unique<DeviceLink>(backend_->Platform());
    session_ = std::make_unique<ControllerSession>(*link_);
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
    if (session_->FindDevice(devicePath_)) {
        // A change holds the controller before the first transfer, so one refused sends nothing at all.
        std::string heldBy;
        if (!changeAs_.empty() && !session_->Hold(changeAs_, heldBy)) {
            Fail(kExitDevice, "the controller at " + link_->DevicePath() + " is in use by " + heldBy +
                                  "; nothing was sent to it. Try again once that program is done.");
            return false;
        }
        if (session_->ReadStatus()) {
            return true;
        }
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
    if (session_->ReadSettings(snapshot)) {
        return true;
    }
    Fail(kExitDevice, "the controller did not answer the settings read: " + DeviceLink::LastError());
    return false;
}

bool CliRun::ReadBack(SettingsSnapshot& snapshot, const std::string& written)
{
    if (session_->ReadSettings(snapshot)) {
        return true;
    }
    Fail(kExitDevice, ReadBackFailure(written));
    return false;
}

std::string ReadBackFailure(const std::string& written)
{
    return "the controller took " + written + ", but reading it back failed: " + DeviceLink::LastError();
}

std::string UnknownSetting(const std::string& key)
{
    return "unknown setting \"" + Excerpt(key) + "\" (see: doorphonectl keys)";
}

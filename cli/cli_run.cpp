// One run of doorphonectl: its backend, session and wire log, its way of failing, and connecting.
#include "cli/commands.h"

#include "cli/stop_on_signals.h"
#include "cli/terminal_text.h"
#include "device/wire_log.h"
#include "session/stop_request.h"
#include "settings/catalogue.h"
#include "settings/text_encoding.h"

#include <algorithm>

CliRun::CliRun(CliIo& io, const CliTestHooks& hooks) : io(io), hooks(hooks) {}

CliRun::CliRun(CliRun& parent, CliIo& io, const std::string& unit)
    : io(io), hooks(parent.hooks), parent_(&parent), changeAs_(parent.changeAs_), wireLog_(parent.wireLog_)
{
    link_ = std::make_unique<DeviceLink>(parent.Backend().Platform());
    if (wireLog_) {
        link_->SetWireLog(wireLog_, unit);
    }
    session_ = std::make_unique<ControllerSession>(*link_);
}

CliRun::~CliRun()
{
    Finish();
}

bool CliRun::Open(bool simulate, const std::string& state, const std::string& wireLog)
{
    std::string error;
    BackendOptions options{simulate, state, hooks.controller, {}};
    options.waitingForState = [this, state] {
        io.err << "doorphonectl: another run uses the state file " << state << "; waiting for it to end\n";
    };
    backend_ = Backend::Open(options, error);
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
        wireLog_ = log;
    }
    return true;
}

bool CliRun::WireLogKept()
{
    if (!wireLog_) {
        return true;
    }
    const std::string failure = wireLog_->Failure();
    if (failure.empty()) {
        return true;
    }
    io.err << "doorphonectl: the wire log " << wireLog_->Path() << " is incomplete: " << failure << "\n";
    return false;
}

StopRequest& CliRun::CatchStopSignals()
{
    StopRequest* stop = hooks.stop;
    if (!stop) {
        if (!ownStop_) {
            ownStop_ = std::make_unique<StopRequest>();
            signals_ = std::make_unique<StopOnSignals>(*ownStop_);
        }
        stop = ownStop_.get();
    }
    // A transfer that hangs when the stop comes is cancelled, so that the run still ends and says where.
    if (backend_) {
        backend_->Platform().StopTransfersOn(stop->Waitable());
    }
    stop_ = stop;
    return *stop;
}

void CliRun::EndTheStopsLine(std::ostream& to, bool toTerminal)
{
    to << StopsLineBreak(toTerminal);
}

std::string CliRun::StopsLineBreak(bool toTerminal)
{
    if (toTerminal && stop_ && stop_->Requested() && !stopsLineEnded_) {
        stopsLineEnded_ = true;
        return "\n";
    }
    return {};
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
    lastFailure_ = SystemWords(message);
    if (sayFailures_) {
        EndTheStopsLine(io.err, io.errIsTerminal);
        io.err << "doorphonectl: " << lastFailure_ << "\n";
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

std::optional<std::string> CliRun::HoldRefusal()
{
    std::string heldBy;
    std::string error;
    if (session_->Hold(heldBy, error, throughRestart_)) {
        return std::string();
    }
    if (heldBy.empty() && error.empty()) {
        return std::nullopt;  // it left before it could be held
    }
    return heldBy.empty() ? "cannot be held against other programs' changes: " + error : "is in use by " + heldBy;
}

bool CliRun::Connect()
{
    if (session_->FindDevice(devicePath_)) {
        // A change holds the controller before the first transfer, so one refused sends nothing at all.
        const std::optional<std::string> refusal = changeAs_.empty() ? std::string() : HoldRefusal();
        if (refusal && !refusal->empty()) {
            const bool held = refusal->rfind("is in use", 0) == 0;
            Fail(kExitDevice, "the controller at " + link_->DevicePath() + " " + *refusal + "; nothing was sent to it" +
                                  (held ? ". Try again once that program is done." : ""));
            return false;
        }
        if (refusal && session_->ReadStatus()) {
            return true;
        }
    }
    if (const std::string denied = link_->InaccessiblePath(); !denied.empty()) {
        Fail(kExitDevice, controller::AccessAdvice(denied));
        return false;
    }
    if (link_->HasDevice()) {
        Fail(kExitDevice,
             "the controller at " + link_->DevicePath() + " does not answer the status read: " + LinkError());
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
    Fail(kExitDevice, "the controller did not answer the settings read: " + LinkError());
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
    return "the controller took " + written + ", but reading it back failed: " + LinkError();
}

std::vector<std::string> NearestKeys(const std::string& typed)
{
    // The part after the last dot: "outgoing-call-mode" for "dial.outgoing-call-mode".
    auto lastPart = [](std::string_view key) {
        const std::size_t dot = key.rfind('.');
        return dot == std::string_view::npos ? key : key.substr(dot + 1);
    };
    const std::string_view typedPart = lastPart(typed);
    const int within = typedPart.size() >= 9 ? 3 : 2;
    std::vector<std::pair<int, std::string>> near;
    for (const CatalogueEntry& e : ParameterCatalogue()) {
        const std::string_view part = lastPart(e.key);
        // A key whose last part is the one typed is at 0: the first suggestion.
        const int distance = std::min(EditDistance(typed, e.key), EditDistance(typedPart, part));
        if (distance <= within) {
            near.emplace_back(distance, e.key);
        }
    }
    std::stable_sort(near.begin(), near.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
    std::vector<std::string> keys;
    for (std::size_t i = 0; i < near.size() && i < 3; ++i) {
        keys.push_back(near[i].second);
    }
    return keys;
}

std::string UnknownSetting(const std::string& key)
{
    std::string message = "unknown setting \"" + Excerpt(key) + "\"";
    const std::vector<std::string> near = NearestKeys(key);
    for (std::size_t i = 0; i < near.size(); ++i) {
        message += (i == 0 ? "; did you mean \"" : i + 1 == near.size() ? "\" or \"" : "\", \"") + near[i];
    }
    return message + (near.empty() ? "" : "\"?") + " (see: doorphonectl keys)";
}

std::string LinkError()
{
    return SystemWords(DeviceLink::LastError());
}

// provision: one controller after another, each read, brought to the carried firmware when asked and older,
// given the profile, and reported in one line (and in the record), until Ctrl+C or --once.
#include "cli/profile.h"
#include "cli/run.h"
#include "cli/unit_record.h"
#include "device/carried_firmware.h"
#include "portable/file_io.h"
#include "portable/wait.h"
#include "session/stop_request.h"
#include "sim/controller_commands.h"
#include "sim/line_reader.h"

#include <algorithm>
#include <optional>
#include <set>
#include <sstream>

namespace {

// What the run has done so far, for the summary.
struct Tally {
    int ok = 0;
    int failed = 0;
    int interrupted = 0;
    int Done() const { return ok + failed + interrupted; }
};

std::string Plural(int n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Joined(const std::vector<std::string>& parts)
{
    std::string all;
    for (const std::string& p : parts) {
        all += (all.empty() ? "" : "; ") + p;
    }
    return all;
}

class Provisioner {
public:
    Provisioner(CliRun& run, const CommandArgs& args, const ProfileContents& profile, UnitLog* log, StopRequest& stop,
                HotplugMonitor& monitor, std::string only)
        : run_(run), args_(args), profile_(profile), log_(log), stop_(stop), monitor_(monitor), only_(std::move(only))
    {
        if (sim::VirtualController* vc = run.Backend().Controller(); vc && run.io.inFd >= 0) {
            commands_.emplace(*vc);
            input_.emplace(run.io.inFd);
            reading_ = true;
            commandLines_.emplace(
                [this](const std::string& line) {
                    if (auto error = commands_->Apply(line)) {
                        run_.io.err << "doorphonectl: " << *error << "\n";
                    }
                },
                [this] { run_.io.err << "doorphonectl: a command line is too long; it is ignored\n"; });
        }
    }

    // Until a stop, --once, or a record that cannot be written. The exit code.
    int Run()
    {
        if (reading_) {
            run_.io.err << "Virtual controllers: type next [VERSION] to put a new one in place of the current one, "
                           "attach [VERSION] to add one beside it, unplug to pull it out.\n";
        }
        // The controllers on the bench at the start count as plugged in just now, but have settled already.
        for (const std::string& path : Candidates()) {
            settled_.insert(path);
        }
        bool said = false;
        while (!stop_.Requested()) {
            const std::vector<std::string> candidates = Candidates();
            if (candidates.empty()) {
                if (!said) {
                    run_.io.err << "Waiting for a controller" << (only_.empty() ? "" : " at " + only_)
                                << " (Ctrl+C ends).\n";
                    said = true;
                }
                if (run_.hooks.waiting) {
                    run_.hooks.waiting(tally_.Done());
                }
                Wait();
                continue;
            }
            said = false;
            const std::string path = candidates.front();
            if (!settled_.count(path) && !ControllerSession::Pause(run_.hooks.settle, &stop_)) {
                break;  // it came, but nothing was said to it yet
            }
            settled_.insert(path);
            const UnitResult unit = Provision(path);
            if (!Report(unit)) {
                return kExitDevice;
            }
            if (!run_.io.out) {
                // Its result line is lost (a closed pipe, a full disk): the unit is done and in the record, and
                // no further one is started that nobody would see the result of. The end of the run says why.
                run_.io.err << "doorphonectl: provision stops: its result lines cannot be written\n";
                return kExitDevice;
            }
            if (args_.once || unit.outcome == UnitResult::Outcome::Interrupted) {
                break;
            }
            run_.io.err << "Pull out " << run_.ChosenDevice() << "; plug in the next controller (Ctrl+C ends).\n";
            said = true;
        }
        Summary();
        if (tally_.failed || tally_.interrupted || (args_.once && tally_.Done() == 0)) {
            return kExitDevice;
        }
        return kExitDone;
    }

private:
    // Controllers present that this run has not provisioned since they were plugged in, in the platform's order.
    std::vector<std::string> Candidates()
    {
        std::set<std::string> present;
        std::vector<std::string> fresh;
        for (const HidDeviceInfo& info : run_.Link().Controllers()) {
            present.insert(info.path);
            if (!handled_.count(info.path) && (only_.empty() || info.path == only_)) {
                fresh.push_back(info.path);
            }
        }
        // A controller pulled out and plugged in again is a new unit.
        std::erase_if(handled_, [&](const std::string& p) { return !present.count(p); });
        std::erase_if(settled_, [&](const std::string& p) { return !present.count(p); });
        return fresh;
    }

    // Until a plug or pull-out, a stop, or (on the virtual bench) a command for it.
    void Wait()
    {
        const portable::WaitHandle handles[] = {monitor_.Waitable(), stop_.Waitable(),
                                                reading_ ? input_->Handle() : portable::kNoWaitHandle};
        const int ready = portable::WaitForAny(handles, -1);
        if (ready == 0) {
            // A node pulled out may come back at once with the next controller on it (the kernel reuses
            // the lowest free minor): it is a new unit even though the list shows the same path.
            for (const HotplugEvent& event : monitor_.ReadEvents()) {
                if (event.action == HotplugAction::Remove) {
                    handled_.erase(event.devicePath);
                    settled_.erase(event.devicePath);
                }
            }
        }
        if (ready == 2) {
            bool ended = false;
            const std::string text = input_->Read(ended);
            commandLines_->Feed(text);
            if (ended) {
                commandLines_->Finish();
                reading_ = false;  // the input ended; the bench stays as it is
            }
        }
    }

    UnitResult Provision(const std::string& path)
    {
        UnitResult unit;
        unit.path = path;
        auto failed = [&](UnitResult::Outcome outcome, const std::string& reason) {
            unit.outcome = outcome;
            unit.reason = reason;
            return unit;
        };
        run_.UseDevice(path);
        handled_.insert(path);
        SettingsSnapshot held;
        if (!run_.Connect() || !run_.Read(held)) {
            return failed(UnitResult::Outcome::Failed, run_.LastFailure());
        }
        unit.before = unit.after = held.Firmware();
        if (stop_.Requested()) {
            return failed(UnitResult::Outcome::Interrupted, "stopped before anything was written");
        }
        if (args_.flash && IsOlder(held.Firmware(), CarriedFirmwareVersion())) {
            const FirmwareInstall install = InstallFirmware(run_, held, &monitor_, &stop_);
            if (!install.otherController.empty()) {
                // Another controller came back in its place: untouched, it is a unit of its own, next.
                settled_.insert(install.otherController);
                unit.flashed = true;
                unit.after = CarriedFirmwareVersion();
                return failed(UnitResult::Outcome::Failed, install.failure);
            }
            // It may have come back on another node: that one is done too.
            handled_.insert(run_.ChosenDevice());
            settled_.insert(run_.ChosenDevice());
            unit.path = run_.ChosenDevice();
            if (install.code != kExitDone) {
                // Not known unless it took every line: programming may or may not have taken.
                unit.after = install.programmed ? std::optional(CarriedFirmwareVersion()) : std::nullopt;
                unit.flashed = install.programmed;
                return failed(install.interrupted ? UnitResult::Outcome::Interrupted : UnitResult::Outcome::Failed,
                              install.failure);
            }
            unit.flashed = true;
            unit.after = install.now;
            if (!run_.Connect() || !run_.Read(held)) {
                return failed(UnitResult::Outcome::Failed, "after the new firmware: " + run_.LastFailure());
            }
            unit.after = held.Firmware();
        }
        const ProfileApplied applied = ApplyProfile(run_, profile_, held, false, run_.io.err, &stop_);
        unit.written = applied.written;
        if (applied.code != kExitDone) {
            return failed(applied.interrupted ? UnitResult::Outcome::Interrupted : UnitResult::Outcome::Failed,
                          Joined(applied.failures));
        }
        return unit;
    }

    // Says the unit's result and keeps it in the record; false when the record could not be written.
    bool Report(const UnitResult& unit)
    {
        switch (unit.outcome) {
        case UnitResult::Outcome::Ok: ++tally_.ok; break;
        case UnitResult::Outcome::Failed: ++tally_.failed; break;
        case UnitResult::Outcome::Interrupted: ++tally_.interrupted; break;
        }
        run_.EndTheStopsLine(run_.io.out, run_.io.outIsTerminal);
        if (args_.json) {
            run_.io.out << ResultJson(unit).dump() << "\n" << std::flush;
        } else {
            run_.io.out << ResultLine(unit) << "\n" << std::flush;
        }
        if (log_) {
            std::string error;
            if (!log_->Append("provision " + args_.file, unit, error)) {
                run_.io.err << "doorphonectl: cannot write the record " << log_->Path() << ": " << error
                            << "; stopped, so that no controller goes unrecorded\n";
                Summary();
                return false;
            }
        }
        return true;
    }

    void Summary()
    {
        std::ostream& to = args_.json ? run_.io.err : run_.io.out;
        run_.EndTheStopsLine(to, args_.json ? run_.io.errIsTerminal : run_.io.outIsTerminal);
        to << "Provisioned " << Plural(tally_.Done(), "controller", "controllers") << ": " << tally_.ok << " OK, "
           << tally_.failed << " failed, " << tally_.interrupted << " interrupted.\n"
           << std::flush;
    }

    CliRun& run_;
    const CommandArgs& args_;
    const ProfileContents& profile_;
    UnitLog* log_;
    StopRequest& stop_;
    HotplugMonitor& monitor_;
    const std::string only_;  // --device: this controller only
    std::optional<sim::ControllerCommands> commands_;  // the virtual bench's, from standard input while waiting
    std::optional<sim::LineReader> commandLines_;
    std::optional<portable::InputPump> input_;
    bool reading_ = false;  // standard input is still open
    std::set<std::string> handled_;  // provisioned and not pulled out since
    std::set<std::string> settled_;  // past their settle time
    Tally tally_;
};

}  // namespace

int ProvisionCommand(CliRun& run, const CommandArgs& args)
{
    std::string error;
    const std::optional<std::string> text = ReadWholeFile(args.file, kLargestProfile, error);
    if (!text) {
        return run.Fail(kExitUsage, "cannot read " + args.file + ": " + error);
    }
    const ProfileContents profile = ReadProfileText(*text);
    for (const std::string& e : profile.errors) {
        run.Fail(kExitUsage, args.file + ": " + e);
    }
    if (!profile.errors.empty()) {
        return kExitUsage;
    }
    std::unique_ptr<UnitLog> log;
    if (!args.log.empty() && !(log = UnitLog::Open(args.log, error))) {
        return run.Fail(kExitUsage, "cannot open the record " + args.log + ": " + error);
    }
    std::unique_ptr<HotplugMonitor> monitor = run.Backend().CreateMonitor();
    if (!monitor) {
        return run.Fail(kExitDevice, "cannot watch for controllers being plugged in");
    }
    StopRequest& stop = run.CatchStopSignals();
    if (args.flash) {
        run.HoldThroughRestart();
    }
    run.SayFailures(false);  // each unit's failure is said in its result line
    Provisioner provisioner(run, args, profile, log.get(), stop, *monitor, run.ChosenDevice());
    const int code = provisioner.Run();
    run.SayFailures(true);
    return code;
}

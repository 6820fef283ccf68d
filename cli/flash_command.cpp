// flash: installs the carried firmware as the window does, then waits for the controller's restart and
// restores its defaults.
#include "cli/commands.h"
#include "cli/terminal_text.h"
#include "cli/unit_record.h"
#include "resources/strings.h"
#include "session/connection_policy.h"
#include "session/stop_request.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string_view>

namespace {

// One line that fits the terminal, one column spare so that it never wraps: the bar is as wide as there
// is room for, up to 40, and a narrow terminal gets a shorter caption.
void ShowProgress(CliIo& io, int percent)
{
    const int columns = TerminalColumns(io.errFd) - 1;
    const std::string full = std::string("Installing firmware ") + FirmwareImageVersion() + " [";
    const std::string tail = "] " + std::to_string(percent) + " %";
    constexpr int kLongest = 40, kShortest = 10;
    const bool narrow = columns - static_cast<int>(full.size() + 7) < kShortest;  // 7: "] 100 %"
    const std::string_view caption = narrow ? std::string_view("[") : std::string_view(full);
    const int width = std::clamp(columns - static_cast<int>(caption.size()) - 7, 1, kLongest);
    const int filled = percent * width / 100;
    io.err << "\r" << caption << std::string(static_cast<std::size_t>(filled), '#')
           << std::string(static_cast<std::size_t>(width - filled), '.') << tail << std::flush;
}

// A question broken into lines of at most `width` characters, each break in place of a run of spaces, the
// text otherwise as it is (the window's words, their double space kept); the answer follows its last line.
std::string FitPrompt(const std::string& text, int width)
{
    std::string out;
    std::size_t start = 0;
    while (text.size() - start > static_cast<std::size_t>(std::max(width, 1))) {
        std::size_t cut = text.rfind(' ', start + static_cast<std::size_t>(width));
        if (cut == std::string::npos || cut <= start) {
            break;  // a word longer than the line: left whole
        }
        std::size_t from = cut;
        while (from > start && text[from - 1] == ' ') {
            --from;
        }
        while (cut < text.size() && text[cut] == ' ') {
            ++cut;
        }
        out += text.substr(start, from - start) + "\n";
        start = cut;
    }
    return out + text.substr(start);
}

// Asks before installing, at a terminal only. True to go on.
bool Confirmed(CliRun& run, bool yes, int& exitCode)
{
    if (yes) {
        return true;
    }
    if (!run.io.inIsTerminal) {
        exitCode = run.Fail(kExitUsage, "flash asks before it installs; give --yes when not run from a terminal");
        return false;
    }
    run.io.err << FitPrompt(std::string(kInstallQuestion) + " [y/N] ", TerminalColumns(run.io.errFd) - 1) << std::flush;
    std::string answer;
    std::getline(run.io.in, answer);
    if (answer != "y" && answer != "Y" && answer != "yes" && answer != "YES" && answer != "Yes") {
        run.io.err << "Nothing installed.\n";
        exitCode = kExitDone;
        return false;
    }
    return true;
}

}  // namespace

FirmwareInstall InstallFirmware(CliRun& run, const SettingsSnapshot& before, HotplugMonitor* monitor,
                                const StopRequest* stop)
{
    FirmwareInstall result;
    auto fail = [&](const std::string& failure) {
        result.code = kExitDevice;
        result.failure = failure;
        return result;
    };
    auto stopped = [&](const std::string& failure) {
        result.interrupted = true;
        return fail(failure);
    };
    const std::string restoreAdvice = "once it is back, run: doorphonectl restore-defaults";

    std::string chunkError;
    ControllerSession& session = run.Session();
    if (stop && stop->Requested()) {
        return stopped("stopped before programming; nothing was sent, and the controller keeps its firmware");
    }
    InstallReports reports;
    reports.onChunkError = [&chunkError](const std::string& text) { chunkError = text; };
    session.BeginInstall(&before, std::move(reports));
    // Into a log (standard error not a terminal): a start line and a line per 10 %, each a line of its own, so
    // that the log shows the run while it lasts; at a terminal, one bar redrawn in place.
    const bool toTerminal = run.io.errIsTerminal;
    if (!toTerminal) {
        run.io.err << "Installing firmware " << FirmwareImageVersion() << " on " << session.DevicePath() << "\n"
                   << std::flush;
    }
    int shown = -1;
    int shownTenths = 0;
    // The boot report puts the controller in download mode; when it is refused no chunk is sent.
    const ControllerSession::Streamed streamed = session.RunInstall(
        [&](uint32_t consumed, uint32_t total) {
            if (stop && stop->Requested()) {
                session.StopInstall();  // the chunk in flight finishes; no other starts
            }
            const int percent = static_cast<int>(static_cast<uint64_t>(consumed) * 100 / total);
            if (percent != shown && run.onStep) {
                shown = percent;
                run.onStep(std::string("installing firmware ") + FirmwareImageVersion(), percent);
            } else if (percent != shown && toTerminal) {
                shown = percent;
                ShowProgress(run.io, percent);
            } else if (!toTerminal && percent / 10 > shownTenths) {
                shownTenths = percent / 10;
                run.io.err << "Installing firmware: " << shownTenths * 10 << " %\n" << std::flush;
            }
        },
        /*needBootReport=*/true);
    if (streamed == ControllerSession::Streamed::BootRefused) {
        return fail("the controller refused the boot report that starts programming: " + LinkError() +
                    "; no firmware was sent, and it keeps its old one (if it no longer answers, pull it out and plug "
                    "it in again)");
    }
    const bool ok = streamed == ControllerSession::Streamed::AllLines;
    if (run.io.errIsTerminal && !run.onStep) {
        if (ok) {
            ShowProgress(run.io, 100);
        }
        run.io.err << "\n";
    } else if (ok && shownTenths < 10) {
        run.io.err << "Installing firmware: 100 %\n" << std::flush;
    }
    const std::string halfway = std::string(controller::kUnfinishedProgramming) +
                                ", then run doorphonectl flash again, or doorphonectl restore-defaults to stay on the "
                                "old firmware";
    if (!ok && session.InstallStopRequested()) {
        return stopped("stopped during programming; " + halfway);
    }
    if (!ok) {
        return fail("programming failed: " +
                    (chunkError.empty() ? std::string("the image could not be sent") : chunkError) + "; " + halfway);
    }
    // A controller that took every line runs the carried firmware once it restarts, whatever comes next.
    result.programmed = true;
    run.io.err << "Programming complete; waiting for the controller to restart.\n";
    if (!monitor) {
        return fail("cannot watch for the controller's restart; " + restoreAdvice);
    }
    const std::string path = session.DevicePath();
    // The settle after the return is this command's own, which a stop ends.
    ConnectionPolicy policy(session, nullptr);
    if (!policy.AwaitLeave(*monitor, path, run.hooks.leaveTimeout, stop)) {
        if (stop && stop->Requested()) {
            return stopped("stopped while waiting for the controller's restart after programming; its defaults are "
                           "not restored: " +
                           restoreAdvice);
        }
        return fail("the controller did not disconnect within " +
                    std::to_string(run.hooks.leaveTimeout.count() / 1000) + " s after programming");
    }
    const std::string back = policy.AwaitArrival(*monitor, run.hooks.returnTimeout, stop);
    if (back.empty()) {
        if (stop && stop->Requested()) {
            return stopped("stopped while the controller restarted with its new firmware; its defaults are not "
                           "restored: " +
                           restoreAdvice);
        }
        return fail("the controller did not come back within " +
                    std::to_string(run.hooks.returnTimeout.count() / 1000) + " s; " + restoreAdvice);
    }
    // A restarted controller may come back on another node; from now on the run means that one.
    run.UseDevice(back);
    if (!ControllerSession::Pause(run.hooks.settle, stop)) {
        return stopped("stopped as the controller came back with its new firmware; its defaults are not restored; "
                       "run: doorphonectl --device " +
                       back + " restore-defaults");
    }
    if (!session.FindDevice(back)) {
        return fail("the controller came back at " + back + " but cannot be opened: " + LinkError() +
                    "; run: doorphonectl restore-defaults");
    }
    // The hold moves to the node it came back at; nothing is sent to it without.
    const std::optional<std::string> refusal = run.HoldRefusal();
    if (!refusal) {
        return fail("the controller came back at " + back +
                    " but left again before it could be held; its defaults "
                    "are not restored; run: doorphonectl restore-defaults");
    }
    if (!refusal->empty()) {
        return fail("the controller came back at " + back + " with its new firmware but " + *refusal +
                    "; nothing was sent to it, so its defaults are not restored: once that is over, run: "
                    "doorphonectl restore-defaults");
    }
    // As the window does on the controller's return: read it, then restore the defaults once, and only to
    // the controller that was programmed.
    SettingsSnapshot s;
    const bool read = session.ReadSettings(s);
    const std::string readError = read ? std::string() : LinkError();
    switch (session.RestoreOwedDefaults(read ? &s : nullptr)) {
    case ControllerSession::OwedRestore::OtherController: {
        result.otherController = back;
        const std::string programmedNeeds = "the programmed controller has the new firmware but not its defaults: "
                                            "plug it in and run doorphonectl restore-defaults";
        if (!read) {
            return fail("the controller that came back at " + back + " could not be read (" + readError +
                        "), so it cannot be told from another one; nothing was sent to it; " + programmedNeeds);
        }
        return fail("the controller that came back at " + back + " is not the one programmed: " +
                    *session.DifferenceFromProgrammed(s) + "; nothing was sent to it; " + programmedNeeds);
    }
    case ControllerSession::OwedRestore::Refused:
        return fail("the controller came back with its new firmware but refused the restore-defaults report: " +
                    LinkError() + "; run: doorphonectl restore-defaults");
    case ControllerSession::OwedRestore::Sent:
    case ControllerSession::OwedRestore::None:
        break;
    }
    if (!session.ReadSettings(s)) {
        return fail(ReadBackFailure("the restore of its defaults after programming"));
    }
    result.now = s.Firmware();
    const std::string now = FormatFirmwareVersion(s.Firmware());
    if (now != FirmwareImageVersion()) {
        return fail("the controller runs firmware " + now + ", not the carried " + FirmwareImageVersion());
    }
    return result;
}

int FlashCommand(CliRun& run, const CommandArgs& args)
{
    int exitCode = kExitDone;
    if (!Confirmed(run, args.yes, exitCode)) {
        return exitCode;
    }
    std::unique_ptr<UnitLog> log;
    if (!args.log.empty()) {
        std::string error;
        if (!(log = UnitLog::Open(args.log, error))) {
            return run.Fail(kExitUsage, "cannot open the record " + args.log + ": " + error);
        }
    }
    // Every way the command ends from here on leaves its line in the record.
    auto recorded = [&](const UnitResult& unit) {
        std::string error;
        if (log && !log->Append(std::string("flash ") + FirmwareImageVersion(), unit, error)) {
            run.Fail(kExitDevice, "cannot write the record " + args.log + ": " + error);
            return false;
        }
        return true;
    };
    // Asked, so a stop from here on ends the run at a safe point rather than halfway.
    const StopRequest& stop = run.CatchStopSignals();
    run.HoldThroughRestart();
    UnitResult unit;
    SettingsSnapshot s;
    if (!run.Connect() || !run.Read(s)) {
        unit.path = run.Session().HasDevice()    ? run.Session().DevicePath()
                    : run.ChosenDevice().empty() ? std::string("no controller")
                                                 : run.ChosenDevice();
        unit.outcome = UnitResult::Outcome::Failed;
        unit.reason = run.LastFailure();
        recorded(unit);
        return kExitDevice;
    }
    unit.path = run.Session().DevicePath();
    unit.before = s.Firmware();
    // Watch from before the first chunk, so the controller's leaving is never missed.
    std::unique_ptr<HotplugMonitor> monitor = run.Backend().CreateMonitor();
    const FirmwareInstall install = InstallFirmware(run, s, monitor.get(), &stop);
    unit.flashed = install.code == kExitDone || install.programmed;
    if (install.code == kExitDone) {
        unit.after = install.now;
    } else {
        // A controller that took every line and restarted runs the carried firmware, even when another one
        // came back in its place.
        unit.after = install.programmed ? std::optional(CarriedFirmwareVersion()) : std::nullopt;
        unit.outcome = install.interrupted ? UnitResult::Outcome::Interrupted : UnitResult::Outcome::Failed;
        unit.reason = install.failure;
        run.Fail(install.code, install.failure);
    }
    if (!recorded(unit)) {
        return kExitDevice;
    }
    if (install.code != kExitDone) {
        return install.code;
    }
    run.io.out << "Firmware " << FormatFirmwareVersion(install.now) << " installed; defaults restored.\n";
    return kExitDone;
}

// flash: installs the carried firmware as the window does, then waits for the controller's restart and
// restores its defaults.
#include "cli/run.h"
#include "device/firmware_stream.h"
#include "resources/strings.h"

#include <cstdio>
#include <memory>
#include <thread>

namespace {

void ShowProgress(CliIo& io, int percent)
{
    constexpr int kWidth = 40;
    const int filled = percent * kWidth / 100;
    io.err << "\rInstalling firmware " << FirmwareImageVersion() << " [" << std::string(filled, '#')
           << std::string(kWidth - filled, '.') << "] " << percent << " %" << std::flush;
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
    run.io.err << kInstallQuestion << " [y/N] " << std::flush;
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

int FlashCommand(CliRun& run, const CommandArgs& args)
{
    int exitCode = kExitDone;
    if (!Confirmed(run, args.yes, exitCode)) {
        return exitCode;
    }
    if (!run.Connect()) {
        return kExitDevice;
    }
    // Watch from before the first chunk, so the controller's leaving is never missed.
    std::unique_ptr<HotplugMonitor> monitor = run.Backend().CreateMonitor();

    std::string chunkError;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> trace(std::fopen("/dev/null", "w"), &std::fclose);
    FirmwareStream stream(run.Link(), [&chunkError](const std::string& text) { chunkError = text; }, trace.get());
    stream.SendBootReport();
    int shown = -1;
    const bool ok = stream.StreamFirmwareImage([&](uint32_t consumed, uint32_t total) {
        const int percent = static_cast<int>(static_cast<uint64_t>(consumed) * 100 / total);
        if (percent != shown && run.io.errIsTerminal) {
            shown = percent;
            ShowProgress(run.io, percent);
        }
    });
    if (run.io.errIsTerminal) {
        if (ok) {
            ShowProgress(run.io, 100);
        }
        run.io.err << "\n";
    }
    if (!ok) {
        return run.Fail(kExitDevice,
                        "programming failed: " + (chunkError.empty() ? std::string("the image could not be sent") : chunkError) +
                            "; the controller did not finish programming and may still wait in download mode with "
                            "its old firmware: pull it out and plug it in again, then run doorphonectl flash again, or "
                            "doorphonectl restore-defaults to stay on the old firmware");
    }
    run.io.err << "Programming complete; waiting for the controller to restart.\n";
    if (!monitor) {
        return run.Fail(kExitDevice,
                        "cannot watch for the controller's restart; once it is back, run: doorphonectl restore-defaults");
    }
    if (!run.WaitFor(*monitor, HotplugAction::Remove, false, run.hooks.leaveTimeout)) {
        return run.Fail(kExitDevice, "the controller did not disconnect within " +
                                         std::to_string(run.hooks.leaveTimeout.count() / 1000) + " s after programming");
    }
    if (!run.WaitFor(*monitor, HotplugAction::Add, true, run.hooks.returnTimeout)) {
        return run.Fail(kExitDevice, "the controller did not come back within " +
                                         std::to_string(run.hooks.returnTimeout.count() / 1000) +
                                         " s; once it is back, run: doorphonectl restore-defaults");
    }
    std::this_thread::sleep_for(run.hooks.settle);
    // As the window does on the controller's return: read it, then restore the defaults once.
    SettingsSnapshot s;
    ReadSnapshot(run.Link(), s);
    if (!run.Link().SendRestoreDefaults()) {
        return run.Fail(kExitDevice, "the controller came back with its new firmware but refused the restore-defaults "
                                     "report: " + DeviceLink::LastError() + "; run: doorphonectl restore-defaults");
    }
    if (!run.ReadBack(s, "the restore of its defaults after programming")) {
        return kExitDevice;
    }
    const std::string now = FormatFirmwareVersion(s.Firmware());
    if (now != FirmwareImageVersion()) {
        return run.Fail(kExitDevice, "the controller runs firmware " + now + ", not the carried " + FirmwareImageVersion());
    }
    run.io.out << "Firmware " << now << " installed; defaults restored.\n";
    return kExitDone;
}

// Measures how long the GUI thread goes without handling events while the dialog installs the firmware
// on the virtual controller. Prints a table; asserts nothing.
#include "app/doorphoneconfigdlg.h"
#include "sim/virtual_controller.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

struct Result {
    double streamSeconds;
    double longestGapMs;
    long ticks;
};

Result Install(std::chrono::microseconds latency)
{
    sim::VirtualController controller;
    controller.SetRebootTimes(std::chrono::hours(1), std::chrono::hours(1));
    controller.SetLatency(latency);
    DeviceLink link(controller);
    std::FILE* devnull = std::fopen("/dev/null", "w");
    DialogHooks hooks;
    hooks.confirm = [](QWidget*, const QString&, const QString&) { return true; };
    hooks.applicationMessage = [](QWidget*, const QString&) {};
    hooks.firmwareError = [](const QString&) {};
    hooks.firmwareTrace = devnull;
    CDoorphoneConfigDlg dialog(link, [&] { return controller.CreateMonitor(); }, hooks);
    dialog.show();

    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
    long ticks = 0;
    QTimer ticker;
    ticker.setInterval(0);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
        ++ticks;
    });
    clock.start();
    dialog.OnInstallFirmware();
    last = clock.nsecsElapsed();
    ticker.start();
    while (dialog.InstallRunning()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    ticker.stop();
    std::fclose(devnull);
    return {seconds, static_cast<double>(longest) / 1e6, ticks};
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    std::printf("\nGUI thread during an install in the dialog (offscreen)\n\n");
    std::printf("%-22s %12s %22s %14s\n", "latency per transfer", "install", "longest gap in events", "event rounds");
    std::printf("%-22s %12s %22s %14s\n", "----------------------", "------------", "----------------------",
                "--------------");
    for (auto latency : {std::chrono::microseconds(0), std::chrono::microseconds(1000)}) {
        const Result r = Install(latency);
        std::printf("%19ld us %10.3f s %19.3f ms %14ld\n", static_cast<long>(latency.count()), r.streamSeconds,
                    r.longestGapMs, r.ticks);
    }
    return 0;
}

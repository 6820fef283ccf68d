// Measures the window on the virtual controller: how long the GUI thread goes without handling events during
// an install, how long from creating the dialog to its first paint, and whether a storm of plug and pull-out
// cycles leaves its open files and memory where they started. Prints tables; asserts nothing.
#include "app/doorphoneconfigdlg.h"
#include "sim/virtual_controller.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

struct Result {
    double streamSeconds;
    double longestGapMs;
    long ticks;
};

Result Install(std::chrono::microseconds latency)
{
    sim::VirtualController controller;
    controller.FirstUnit().SetRebootTimes(std::chrono::hours(1), std::chrono::hours(1));
    controller.FirstUnit().SetLatency(latency);
    DeviceLink link(controller);
    ControllerSession session(link);
    std::FILE* devnull = std::fopen("/dev/null", "w");
    DialogHooks hooks;
    hooks.confirm = [](QWidget*, const QString&, const QString&, const QString&) { return true; };
    hooks.applicationMessage = [](QWidget*, const QString&, const QString&) {};
    hooks.firmwareError = [](const QString&) {};
    hooks.firmwareTrace = devnull;
    CDoorphoneConfigDlg dialog(
        session, [&] { return controller.CreateMonitor(); }, hooks);
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

// The first paint of a widget, seen from outside it.
class PaintWatch : public QObject {
public:
    bool painted = false;
    bool eventFilter(QObject*, QEvent* event) override
    {
        painted = painted || event->type() == QEvent::Paint;
        return false;
    }
};

double FirstPaintMs()
{
    sim::VirtualController controller;
    DeviceLink link(controller);
    ControllerSession session(link);
    QElapsedTimer clock;
    clock.start();
    CDoorphoneConfigDlg dialog(session, [&] { return controller.CreateMonitor(); });
    PaintWatch watch;
    dialog.installEventFilter(&watch);
    dialog.show();
    while (!watch.painted) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

long OpenFiles()
{
    long n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        ++n;
    }
    return n;
}

// A memory figure of this process in KiB: VmRSS (resident now) or VmHWM (its peak).
long StatusKiB(const std::string& field)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field + ":", 0) == 0) {
            return std::stol(line.substr(field.size() + 1));
        }
    }
    return -1;
}

void Storm(int cycles)
{
    sim::VirtualController controller;
    DeviceLink link(controller);
    ControllerSession session(link);
    DialogHooks hooks;
    hooks.settleWait = [](std::chrono::milliseconds) {};
    CDoorphoneConfigDlg dialog(
        session, [&] { return controller.CreateMonitor(); }, hooks);
    dialog.show();
    auto settle = [] {
        for (int i = 0; i < 3; ++i) {
            QCoreApplication::processEvents();
        }
    };
    auto cycle = [&](int n) {
        for (int i = 0; i < n; ++i) {
            controller.FirstUnit().Unplug();
            settle();
            controller.FirstUnit().Plug();
            settle();
        }
    };
    cycle(20);  // caches and lazily made objects exist before the first count
    const long filesBefore = OpenFiles();
    const long memoryBefore = StatusKiB("VmRSS");
    cycle(cycles);
    std::printf("\nPlug and pull-out storm, %d cycles, the window following each\n\n", cycles);
    std::printf("%-28s %10s %10s\n", "", "before", "after");
    std::printf("%-28s %10ld %10ld\n", "open files", filesBefore, OpenFiles());
    std::printf("%-28s %7ld KiB %6ld KiB\n", "resident memory", memoryBefore, StatusKiB("VmRSS"));
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
    std::printf("\n%-44s %10.1f ms\n", "window: creating the dialog to its first paint", FirstPaintMs());
    Storm(1000);
    std::printf("\n%-44s %10ld KiB\n", "window: peak resident memory of this run", StatusKiB("VmHWM"));
    return 0;
}

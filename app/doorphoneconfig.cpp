#include "app/doorphoneconfig.h"

#include "app/doorphoneconfigdlg.h"
#include "app/simulator_panel.h"
#include "device/device_link.h"
#include "device/hidapi_platform.h"
#include "device/udev_monitor.h"
#include "device/wire_log.h"
#include "resources/strings.h"
#include "sim/virtual_controller.h"

#include <QApplication>
#include <QEventLoop>

#include <cstdio>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace {

constexpr const char* kUsage =
    "Usage: doorphoneconfig [--simulate] [--wire-log FILE]\n"
    "\n"
    "The configuration tool for the Tavrel 7410 door-phone controller. Plug the controller in, then read\n"
    "and change its settings; every change goes to the controller at once.\n"
    "\n"
    "  --simulate        use the built-in virtual controller instead of a real one, with a window to plug\n"
    "                    it in and pull it out; the same commands are read from standard input, one per\n"
    "                    line: plug, unplug, station HEX, level N, latency MS,\n"
    "                    fail N [eio|epipe|etimedout], answer ID HEX...\n"
    "  --wire-log FILE   append one line per feature-report transfer to FILE\n"
    "  --help            show this text\n"
    "  --version         show the tool's version\n";

}  // namespace

int CDoorphoneConfigApp::InitInstance()
{
    std::shared_ptr<WireLog> wireLog;
    if (!m_options.wireLogPath.empty()) {
        std::string error;
        wireLog = WireLog::Open(m_options.wireLogPath, error);
        if (!wireLog) {
            std::fprintf(stderr, "doorphoneconfig: cannot open the wire log %s: %s\n", m_options.wireLogPath.c_str(),
                         error.c_str());
            return 2;
        }
    }

    std::unique_ptr<sim::VirtualController> controller;
    std::unique_ptr<HidPlatform> platform;
    MonitorFactory monitors;
    if (m_options.simulate) {
        controller = std::make_unique<sim::VirtualController>();
        monitors = [c = controller.get()] { return c->CreateMonitor(); };
    } else {
        platform = std::make_unique<HidapiPlatform>();
        monitors = [] { return std::unique_ptr<HotplugMonitor>(UdevHotplugMonitor::Create()); };
    }
    DeviceLink link(controller ? static_cast<HidPlatform&>(*controller) : *platform);
    link.SetWireLog(wireLog);

    CDoorphoneConfigDlg dialog(link, monitors);
    if (!controller) {
        dialog.exec();
        return 0;
    }
    // With the virtual controller its panel must stay usable beside the dialog, so the dialog runs in an
    // event loop of its own rather than blocking every other window.
    CSimulatorPanel panel(*controller);
    panel.ReadCommandsFrom(STDIN_FILENO);
    QEventLoop loop;
    QObject::connect(&dialog, &QDialog::finished, &loop, &QEventLoop::quit);
    dialog.show();
    panel.show();
    panel.move(dialog.frameGeometry().right() + 12, dialog.frameGeometry().top());
    loop.exec();
    return 0;
}

int main(int argc, char** argv)
{
    // Plain options first, so --help and --version work without a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("doorphoneconfig %s\n", kVersionLineText);
            return 0;
        }
    }
    AppOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--simulate") {
            options.simulate = true;
        } else if (arg == "--wire-log" && i + 1 < argc) {
            options.wireLogPath = argv[++i];
        } else if (arg.rfind("--wire-log=", 0) == 0) {
            options.wireLogPath = arg.substr(11);
        } else if (arg == "-platform" || arg == "-display" || arg == "-style") {
            ++i;  // Qt's own, handled by QApplication
        } else {
            std::fprintf(stderr, "doorphoneconfig: unknown option %s\n%s", argv[i], kUsage);
            return 2;
        }
    }
    QApplication application(argc, argv);
    return CDoorphoneConfigApp(std::move(options)).InitInstance();
}

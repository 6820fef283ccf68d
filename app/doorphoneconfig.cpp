#include "app/doorphoneconfig.h"

#include "app/doorphoneconfigdlg.h"
#include "app/virtual_controller_panel.h"
#include "backend/platform_choice.h"
#include "device/device_link.h"
#include "device/wire_log.h"
#include "portable/process_io.h"
#include "portable/system.h"
#include "resources/strings.h"

#include <QApplication>
#include <QCommandLineOption>
#include <QCommandLineParser>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

// Descriptor 0 on both systems: the C runtime numbers its standard streams on Windows too.
constexpr int kStandardInput = 0;

constexpr const char* kDescription =
    "The configuration tool for the Tavrel 7410 door-phone controller. Plug the controller in, then read\n"
    "and change its settings; every change goes to the controller at once.";

constexpr const char* kControllerCommands =
    "\nWith --simulate the virtual controller's commands are read from standard input, one per line:\n"
    "  " DPC_CONTROLLER_COMMANDS "\n"
    "next puts a new unit in place of the one the commands act on, attach one beside it; select PATH\n"
    "chooses the unit the other commands act on, else the one that came last.\n"
    "Qt's own options (-platform NAME, -style NAME, -session ID, ...) are accepted as Qt documents them.\n";

// The program's options; Qt's own are taken out of the command line by QApplication before these are read.
struct OptionSet {
    QCommandLineParser parser;
    QCommandLineOption simulate{"simulate", "Use the built-in virtual controller instead of a real one, with a "
                                            "window to plug it in and pull it out."};
    QCommandLineOption wireLog{"wire-log", "Append one line per feature-report transfer to FILE.", "FILE"};
    QCommandLineOption help{QStringList{"h", "help"}, "Show this text."};
    QCommandLineOption version{"version", "Show the tool's version."};

    OptionSet()
    {
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);  // -platform, as Qt has it
        parser.setApplicationDescription(kDescription);
        parser.addOption(simulate);
        parser.addOption(wireLog);
        parser.addOption(help);
        parser.addOption(version);
    }

    QString HelpText() const { return parser.helpText().replace("<executable_name>", "doorphoneconfig"); }
};

// The options QGuiApplication and QApplication take for themselves (see QGuiApplication and QApplication).
bool IsQtOption(const QString& name)
{
    static const QStringList kQtOptions = {"platform",      "platformpluginpath",
                                           "platformtheme", "plugin",
                                           "qmljsdebugger", "qwindowgeometry",
                                           "qwindowicon",   "qwindowtitle",
                                           "reverse",       "session",
                                           "style",         "stylesheet",
                                           "widgetcount",   "display",
                                           "geometry",      "title",
                                           "name",          "visual",
                                           "ncols",         "cmap",
                                           "nograb",        "dograb",
                                           "sync",          "fn",
                                           "font",          "bg",
                                           "background",    "fg",
                                           "foreground",    "btn",
                                           "button",        "im",
                                           "inputstyle",    "testability"};
    return kQtOptions.contains(name);
}

// The platform the window system is opened with: Qt's -platform option, else QT_QPA_PLATFORM, else Qt's
// default (empty).
std::string RequestedPlatform(int argc, char** argv)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0) {
            return argv[i + 1];
        }
    }
    const char* fromEnvironment = std::getenv("QT_QPA_PLATFORM");
    return fromEnvironment != nullptr ? fromEnvironment : "";
}

// Qt's default and its X11 and Wayland plugins need a display; offscreen, vnc and the like do not.
bool PlatformNeedsDisplay(const std::string& platform)
{
    return platform.empty() || platform.starts_with("xcb") || platform.starts_with("wayland");
}

// Qt's messages while QApplication opens the window system. When no platform plugin can open a display,
// Qt says so in several lines and aborts; the user gets one line that names what works without a display,
// and exit 1. Qt's lines about the attempt (its platform categories) are left out; the rest pass on.
void WindowSystemStartMessages(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtFatalMsg) {
        std::string where;
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
            const char* value = std::getenv(name);
            if (value != nullptr && *value != '\0') {
                where += (where.empty() ? "" : ", ") + std::string(name) + "=" + value;
            }
        }
        std::fprintf(stderr,
                     "doorphoneconfig: the window needs a display and none could be opened (%s); try "
                     "doorphonectl --simulate show, which needs none\n",
                     where.empty() ? "DISPLAY and WAYLAND_DISPLAY are unset" : where.c_str());
        std::fflush(nullptr);
        std::_Exit(1);  // where Qt would abort, inside QApplication's constructor: nothing of ours is open
    }
    if (context.category != nullptr && std::strncmp(context.category, "qt.qpa.", 7) == 0) {
        return;
    }
    std::fprintf(stderr, "%s\n", qFormatLogMessage(type, context, message).toLocal8Bit().constData());
}

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

    std::string error;
    std::optional<Backend> backend = Backend::Open({m_options.simulate, {}, nullptr, {}}, error);
    if (!backend) {
        std::fprintf(stderr, "doorphoneconfig: %s\n", error.c_str());
        return 2;
    }
    DeviceLink link(backend->Platform());
    link.SetWireLog(wireLog);
    ControllerSession session(link);

    CDoorphoneConfigDlg dialog(session, [&backend] { return backend->CreateMonitor(); });
    // The virtual controller's panel stands beside the window, which runs the same way on either backend.
    std::unique_ptr<CVirtualControllerPanel> panel;
    if (sim::VirtualController* controller = backend->Controller()) {
        panel = std::make_unique<CVirtualControllerPanel>(*controller);
        panel->ReadCommandsFrom(kStandardInput);
        QObject::connect(&dialog, &CDoorphoneConfigDlg::Shown, panel.get(), [&dialog, &panel] {
            panel->ShowBeside(&dialog, {dialog.TabCtrl()->geometry(), dialog.GetDlgItem(dlg::IDOK)->geometry()});
        });
    }
    dialog.DoModal();
    return 0;
}

int main(int argc, char** argv)
{
    // Before the window system's connection or a log can take the number of a closed standard descriptor
    // (and get the command reader's reads or the firmware trace's writes).
    OpenNullOnClosedStandardDescriptors();
    IgnoreBrokenPipe();  // the firmware trace on a closed pipe must not end the program mid-install
    QCoreApplication::setApplicationName("doorphoneconfig");
    QCoreApplication::setApplicationVersion(kToolVersion);
    // --help and --version need no display: answer them before the window system is opened.
    {
        OptionSet options;
        QStringList arguments;
        for (int i = 0; i < argc; ++i) {
            arguments << QString::fromLocal8Bit(argv[i]);
        }
        options.parser.parse(arguments);
        if (options.parser.isSet(options.help)) {
            std::fputs(options.HelpText().toLocal8Bit().constData(), stdout);
            std::fputs(kControllerCommands, stdout);
            return 0;
        }
        if (options.parser.isSet(options.version)) {
            std::printf("doorphoneconfig %s\n", kToolVersion);
            return 0;
        }
        // A mistyped option is refused here, before a window system is needed to say so.
        for (const QString& name : options.parser.unknownOptionNames()) {
            if (!IsQtOption(name)) {
                std::fprintf(stderr, "doorphoneconfig: unknown option %s\n%s", name.toLocal8Bit().constData(),
                             options.HelpText().toLocal8Bit().constData());
                return 2;
            }
        }
    }
    // On Windows the text is drawn by DirectWrite, Windows' own text engine and Qt's default from 6.8 on:
    // Qt 6.4's older GDI engine leaves the text of edits undrawn under Wine, where the window is tested.
    // A -platform option or QT_QPA_PLATFORM of the user's own still decides.
    if constexpr (portable::kWindows) {
        if (RequestedPlatform(argc, argv).empty()) {
            qputenv("QT_QPA_PLATFORM", "windows:fontengine=directwrite");
        }
    }
    const bool watchTheStart = PlatformNeedsDisplay(RequestedPlatform(argc, argv));
    if (watchTheStart) {
        qInstallMessageHandler(WindowSystemStartMessages);
    }
    QApplication application(argc, argv);
    if (watchTheStart) {
        qInstallMessageHandler(nullptr);
    }
    QGuiApplication::setDesktopFileName("doorphoneconfig");  // so Wayland compositors find the icon
    OptionSet options;
    if (!options.parser.parse(QApplication::arguments())) {
        std::fprintf(stderr, "doorphoneconfig: %s\n%s", options.parser.errorText().toLocal8Bit().constData(),
                     options.HelpText().toLocal8Bit().constData());
        return 2;
    }
    if (!options.parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "doorphoneconfig: unexpected argument %s\n",
                     options.parser.positionalArguments().front().toLocal8Bit().constData());
        return 2;
    }
    AppOptions appOptions;
    appOptions.simulate = options.parser.isSet(options.simulate);
    appOptions.wireLogPath = options.parser.value(options.wireLog).toStdString();
    if (options.parser.isSet(options.wireLog) && appOptions.wireLogPath.empty()) {
        std::fprintf(stderr, "doorphoneconfig: --wire-log needs a FILE\n");
        return 2;
    }
    return CDoorphoneConfigApp(std::move(appOptions)).InitInstance();
}

// emulate-controller: runs a program on the controller as the kernel shows it (sysfs, udev events, a hidraw
// node), answered by the virtual controller, so the real hidapi/udev backend runs without hardware.
#include "backend/platform_choice.h"
#include "sim/controller_commands.h"
#include "sim/line_reader.h"
#include "testbed/hidraw_testbed.h"

#include "device/device_link.h"
#include "resources/version.h"

#include <fcntl.h>
#include <glib-unix.h>
#include <glib.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#ifndef DPC_FSTAT_SHIM
#define DPC_FSTAT_SHIM ""
#endif

namespace {

constexpr const char* kUmockdevPreload = "libumockdev-preload.so.0";

constexpr const char* kUsage =
    "Usage: emulate-controller [--state FILE] [--control FIFO] [--node-mode MODE] [--crowded] [--trace FILE]\n"
    "                          -- COMMAND [ARG...]\n"
    "\n"
    "Runs COMMAND with a Tavrel 7410 controller as the Linux kernel shows it: a USB device with a HID\n"
    "interface and a /dev/hidraw node, whose feature reports the virtual controller answers. Exits with\n"
    "COMMAND's status.\n"
    "\n"
    "  --state FILE      keep the controller's memory in FILE between runs\n"
    "  --apply LINE      apply a control command (below) before COMMAND starts; may be repeated\n"
    "  --control FIFO    read commands from FIFO, one per line (made when missing): the virtual\n"
    "                    controller's commands (below), node-mode MODE (the node's access mode in\n"
    "                    octal, applied now) and leaving (the unit is caught mid-way through its\n"
    "                    pull-out: a listing reads its HID interface's uevent once, then no longer).\n"
    "                    Without it a FIFO is made in the testbed. COMMAND finds its path in\n"
    "                    $EMULATE_CONTROLLER_CONTROL.\n"
    "  --node-mode MODE  the access mode of the /dev node, in octal (default 0666)\n"
    "  --crowded         also a second product of the vendor, a device of another vendor, and a second\n"
    "                    HID interface on the controller\n"
    "  --trace FILE      one line per open, close and ioctl of every node\n"
    "\n"
    "The virtual controller's commands: " DPC_CONTROLLER_COMMANDS "\n";

struct Options {
    std::string state;
    std::string control;
    std::string trace;
    std::vector<std::string> apply;
    mode_t nodeMode = 0666;
    bool crowded = false;
    std::vector<std::string> command;
};

std::optional<mode_t> ParseMode(const std::string& text)
{
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 8);
    if (text.empty() || *end != '\0' || errno != 0 || value < 0 || value > 07777) {
        return std::nullopt;
    }
    return static_cast<mode_t>(value);
}

std::optional<Options> ParseOptions(int argc, char** argv)
{
    Options o;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "emulate-controller: %s needs a value\n", a.c_str());
                return std::nullopt;
            }
            return std::string(argv[++i]);
        };
        if (a == "--") {
            ++i;
            break;
        }
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        }
        if (a == "--crowded") {
            o.crowded = true;
        } else if (a == "--state" || a == "--control" || a == "--trace" || a == "--node-mode" || a == "--apply") {
            std::optional<std::string> v = value();
            if (!v) {
                return std::nullopt;
            }
            if (a == "--state") {
                o.state = *v;
            } else if (a == "--control") {
                o.control = *v;
            } else if (a == "--trace") {
                o.trace = *v;
            } else if (a == "--apply") {
                o.apply.push_back(*v);
            } else if (auto mode = ParseMode(*v)) {
                o.nodeMode = *mode;
            } else {
                std::fprintf(stderr, "emulate-controller: --node-mode takes an octal mode such as 0600\n");
                return std::nullopt;
            }
        } else if (a.rfind("--", 0) == 0) {
            std::fprintf(stderr, "emulate-controller: unknown option %s\n%s", a.c_str(), kUsage);
            return std::nullopt;
        } else {
            break;  // COMMAND starts here, as after "--"
        }
    }
    for (; i < argc; ++i) {
        o.command.emplace_back(argv[i]);
    }
    if (o.command.empty()) {
        std::fprintf(stderr, "emulate-controller: no COMMAND given\n%s", kUsage);
        return std::nullopt;
    }
    return o;
}

std::string WithPreload(const char* library, const char* existing)
{
    std::string value = library;
    if (existing && *existing) {
        value += std::string(":") + existing;
    }
    return value;
}

// AddressSanitizer refuses to start when a preloaded library comes before its runtime.
void AllowPreloadBeforeSanitizer()
{
    const char* existing = std::getenv("ASAN_OPTIONS");
    std::string options = existing && *existing ? std::string(existing) + ":" : std::string();
    setenv("ASAN_OPTIONS", (options + "verify_asan_link_order=0").c_str(), 1);
}

// The testbed's own file operations must go through umockdev's preload library: start again under it.
void ReexecUnderPreload(char** argv)
{
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload && std::strstr(preload, "libumockdev-preload")) {
        return;
    }
    setenv("LD_PRELOAD", WithPreload(kUmockdevPreload, preload).c_str(), 1);
    AllowPreloadBeforeSanitizer();
    execv("/proc/self/exe", argv);
    std::fprintf(stderr, "emulate-controller: cannot start under umockdev: %s\n", std::strerror(errno));
    std::_Exit(125);
}

struct Emulator;
void ApplyControlLine(Emulator& e, const std::string& line);

struct Emulator {
    sim::VirtualController controller;
    sim::ControllerCommands commands{controller};  // the control lines, on the unit they chose
    std::optional<Backend> backend;                // the controller above, with its state file
    std::unique_ptr<sim::HidrawTestbed> bed;
    std::unique_ptr<HotplugMonitor> monitor;
    GMainLoop* loop = nullptr;
    pid_t child = -1;
    int status = 125;
    int controlFd = -1;
    std::deque<HotplugEvent> pendingEvents;  // the units' plugs and pull-outs still to be shown, in order
    bool plugged = false;                    // the bench is in place (the commands given up front are applied)
    std::vector<std::string> leavingUnits;   // given up front: taken down once the bench is in place
    bool spacing = false;                    // one was shown just now: the next waits its turn
    sim::LineReader lines{[this](const std::string& line) { ApplyControlLine(*this, line); },
                          [] { std::fprintf(stderr, "emulate-controller: a control line over 4 KiB was ignored\n"); }};
};

// The emulated kernel hands its uevents to each listener through a datagram socket that holds only as many as
// net.unix.max_dgram_qlen (10 by default) before umockdev gives up; one plug or pull-out is a handful. So when
// several units come or go at once (a bench restarting after programming), each goes out this long after the
// last, time for the listeners to read them, as a real kernel's larger buffer would let them.
#if defined(__SANITIZE_ADDRESS__)
constexpr unsigned kEventSpacingMs = 400;  // the listeners, built with the sanitizers too, read several times slower
#else
constexpr unsigned kEventSpacingMs = 250;  // a listener may stall half a second on a loaded machine of two cores
#endif

void ApplyControllerEvent(Emulator& e, const HotplugEvent& event)
{
    const std::size_t index = e.bed->DeviceOfUnit(event.devicePath);
    if (event.action == HotplugAction::Add) {
        e.bed->Plug(index);
    } else if (event.action == HotplugAction::Remove) {
        e.bed->Unplug(index);
    }
}

gboolean OnNextControllerEvent(gpointer data)
{
    auto& e = *static_cast<Emulator*>(data);
    if (e.pendingEvents.empty()) {
        e.spacing = false;
        return G_SOURCE_REMOVE;
    }
    ApplyControllerEvent(e, e.pendingEvents.front());
    e.pendingEvents.pop_front();
    return G_SOURCE_CONTINUE;
}

// A unit of the virtual controller plugged itself in or out (a control command, or its reboot after
// programming); a unit that is new gets a USB device of its own.
gboolean OnControllerEvents(int, GIOCondition, gpointer data)
{
    auto& e = *static_cast<Emulator*>(data);
    for (const HotplugEvent& event : e.monitor->ReadEvents()) {
        if (!e.spacing) {
            ApplyControllerEvent(e, event);  // the first at once, the next ones spaced after it
            e.spacing = true;
            GSource* timer = g_timeout_source_new(kEventSpacingMs);
            g_source_set_callback(timer, OnNextControllerEvent, &e, nullptr);
            g_source_attach(timer, g_main_context_get_thread_default());
            g_source_unref(timer);
        } else {
            e.pendingEvents.push_back(event);
        }
    }
    return G_SOURCE_CONTINUE;
}

void ApplyControlLine(Emulator& e, const std::string& line)
{
    if (line == "leaving") {
        const std::string unit = e.commands.Unit().Path();
        if (e.plugged) {
            e.bed->BeginLeaving(e.bed->DeviceOfUnit(unit));
        } else {
            e.leavingUnits.push_back(unit);
        }
        return;
    }
    if (line.rfind("node-mode", 0) == 0) {
        std::string rest = line.substr(9);
        rest.erase(0, rest.find_first_not_of(' '));
        if (auto mode = ParseMode(rest)) {
            e.bed->SetNodeMode(*mode);
        } else {
            std::fprintf(stderr, "emulate-controller: node-mode: expected an octal mode such as 0600\n");
        }
        return;
    }
    if (auto error = e.commands.Apply(line)) {
        std::fprintf(stderr, "emulate-controller: %s\n", error->c_str());
    }
}

gboolean OnControl(int fd, GIOCondition, gpointer data)
{
    auto& e = *static_cast<Emulator*>(data);
    char buffer[1024];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) {
        e.lines.Feed(std::string_view(buffer, static_cast<std::size_t>(n)));
    }
    return G_SOURCE_CONTINUE;
}

void OnChildExit(GPid, int waitStatus, gpointer data)
{
    auto& e = *static_cast<Emulator*>(data);
    e.status = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
    g_main_loop_quit(e.loop);
}

gboolean OnSignal(gpointer data)
{
    auto& e = *static_cast<Emulator*>(data);
    if (e.child > 0) {
        kill(e.child, SIGTERM);
    }
    return G_SOURCE_CONTINUE;
}

// GLib calls each source's callback with that source's own signature, through the generic type.
template <typename Function>
GSourceFunc AsSourceFunc(Function* function)
{
    return reinterpret_cast<GSourceFunc>(reinterpret_cast<void (*)()>(function));
}

pid_t StartChild(const std::vector<std::string>& command)
{
    std::vector<char*> argv;
    for (const std::string& a : command) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        // The child sees the node's fstat() as the device it stands for; see the shim.
        const char* preload = std::getenv("LD_PRELOAD");
        if (*DPC_FSTAT_SHIM) {
            setenv("LD_PRELOAD", WithPreload(DPC_FSTAT_SHIM, preload).c_str(), 1);
        }
        execvp(argv[0], argv.data());
        std::fprintf(stderr, "emulate-controller: cannot run %s: %s\n", argv[0], std::strerror(errno));
        std::_Exit(127);
    }
    return pid;
}

int Run(const Options& o)
{
    Emulator e;
    std::string stateError;
    e.backend = Backend::Open({true, o.state, &e.controller, {}}, stateError);
    if (!e.backend) {
        std::fprintf(stderr, "emulate-controller: cannot use the state file %s: %s\n", o.state.c_str(),
                     stateError.c_str());
        return 125;
    }
    std::FILE* trace = nullptr;
    if (!o.trace.empty() && (trace = std::fopen(o.trace.c_str(), "a")) == nullptr) {
        std::fprintf(stderr, "emulate-controller: cannot open %s: %s\n", o.trace.c_str(), std::strerror(errno));
        return 125;
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> traceOwner(trace,
                                                               [](std::FILE* f) { return f ? std::fclose(f) : 0; });

    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);  // the ioctl handlers run on this context
    e.loop = g_main_loop_new(context, FALSE);
    e.bed = std::make_unique<sim::HidrawTestbed>(e.controller, sim::BenchDevices(o.crowded), o.nodeMode);
    int result = 125;
    if (!e.bed->Error().empty()) {
        std::fprintf(stderr, "emulate-controller: %s\n", e.bed->Error().c_str());
    } else {
        e.bed->SetTrace(trace);
        e.monitor = e.controller.CreateMonitor();
        // Commands given up front shape the bench before anything is plugged in.
        for (const std::string& line : o.apply) {
            ApplyControlLine(e, line);
        }
        e.monitor->ReadEvents();
        const std::vector<sim::UsbHidDevice> devices = sim::BenchDevices(o.crowded);
        const std::vector<HidDeviceInfo> units = e.controller.Enumerate(controller::kVendorId);
        for (std::size_t d = 0; d < devices.size(); ++d) {
            if (devices[d].unit.empty()) {
                e.bed->Plug(d);
            }
        }
        for (const HidDeviceInfo& unit : units) {
            e.bed->Plug(e.bed->DeviceOfUnit(unit.path));
        }
        e.plugged = true;
        for (const std::string& unit : e.leavingUnits) {
            e.bed->BeginLeaving(e.bed->DeviceOfUnit(unit));
        }
        auto attach = [context](GSource* source) {
            g_source_attach(source, context);
            g_source_unref(source);
        };
        GSource* events = g_unix_fd_source_new(e.monitor->Waitable(), G_IO_IN);
        g_source_set_callback(events, AsSourceFunc(OnControllerEvents), &e, nullptr);
        attach(events);
        // The holds on controllers of this bench live in it, apart from those of other benches and of real
        // controllers; any user the command runs as may take them.
        const std::string lockDir = e.bed->RootDir() + "/lock";
        mkdir(lockDir.c_str(), 0777);
        chmod(lockDir.c_str(), 01777);
        setenv("DOORPHONECONFIG_LOCK_DIR", lockDir.c_str(), 1);
        const std::string controlPath = o.control.empty() ? e.bed->RootDir() + "/control" : o.control;
        {
            if (access(controlPath.c_str(), F_OK) != 0) {
                if (mkfifo(controlPath.c_str(), 0600) != 0) {
                    std::fprintf(stderr, "emulate-controller: cannot make %s: %s\n", controlPath.c_str(),
                                 std::strerror(errno));
                } else if (o.control.empty()) {
                    chmod(controlPath.c_str(), 0666);  // COMMAND may run as another user
                }
            }
            // Read and write, so the FIFO never reads as closed between two writers.
            e.controlFd = open(controlPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
            if (e.controlFd < 0) {
                std::fprintf(stderr, "emulate-controller: cannot open %s: %s\n", controlPath.c_str(),
                             std::strerror(errno));
            } else {
                setenv("EMULATE_CONTROLLER_CONTROL", controlPath.c_str(), 1);
                GSource* control = g_unix_fd_source_new(e.controlFd, G_IO_IN);
                g_source_set_callback(control, AsSourceFunc(OnControl), &e, nullptr);
                attach(control);
            }
        }
        for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
            GSource* s = g_unix_signal_source_new(sig);
            g_source_set_callback(s, OnSignal, &e, nullptr);
            attach(s);
        }
        e.child = StartChild(o.command);
        if (e.child < 0) {
            std::fprintf(stderr, "emulate-controller: cannot start %s: %s\n", o.command[0].c_str(),
                         std::strerror(errno));
        } else {
            GSource* watch = g_child_watch_source_new(e.child);
            g_source_set_callback(watch, AsSourceFunc(OnChildExit), &e, nullptr);
            attach(watch);
            g_main_loop_run(e.loop);
            result = e.status;
        }
    }
    if (result != 125) {
        std::string error;
        if (!e.backend->SaveState(error)) {
            std::fprintf(stderr, "emulate-controller: cannot save the state file %s: %s\n", o.state.c_str(),
                         error.c_str());
        }
    }
    e.monitor.reset();
    e.bed.reset();
    if (e.controlFd >= 0) {
        close(e.controlFd);
    }
    g_main_loop_unref(e.loop);
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
    return result;
}

}  // namespace

int main(int argc, char** argv)
{
    std::optional<Options> options = ParseOptions(argc, argv);
    if (!options) {
        return 125;
    }
    ReexecUnderPreload(argv);
    const int status = Run(*options);
    std::fflush(nullptr);
    // GLib keeps its type system and caches until the process ends; there is nothing of ours left to free.
    std::_Exit(status);
}

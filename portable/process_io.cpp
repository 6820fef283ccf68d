#include "portable/process_io.h"

#include <cerrno>
#include <cstring>

#include <atomic>
#include <cstdio>
#include <iterator>

#ifdef _WIN32
#include "portable/windows_text.h"

#include <windows.h>

#include <shellapi.h>

#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

void OpenNullOnClosedStandardDescriptors()
{
    for (int fd = 0; fd <= 2; ++fd) {
#ifdef _WIN32
        if (_get_osfhandle(fd) == -1) {
            const int opened = _open("NUL", fd == 0 ? _O_RDONLY : _O_WRONLY);
            if (opened >= 0 && opened != fd) {
                _dup2(opened, fd);
                _close(opened);
            }
        }
#else
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            // The lowest free number: this one, since those below it are open by now.
            const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
            if (opened >= 0 && opened != fd) {
                dup2(opened, fd);
                close(opened);
            }
        }
#endif
    }
}

void IgnoreBrokenPipe()
{
#ifndef _WIN32
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
#endif
}

bool WriteToDescriptor(int fd, const char* data, std::size_t size, std::string& error)
{
    std::size_t done = 0;
    while (done < size) {
#ifdef _WIN32
        const int n = _write(fd, data + done, static_cast<unsigned>(size - done));
#else
        const ssize_t n = write(fd, data + done, size - done);
#endif
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = n < 0 ? std::strerror(errno) : "nothing could be written";
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

int TerminalWidth(int fd)
{
#ifdef _WIN32
    const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (h == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(h, &info)) {
        return 0;
    }
    return info.srWindow.Right - info.srWindow.Left + 1;
#else
    winsize size{};
    if (fd >= 0 && IsTerminal(fd) && ioctl(fd, TIOCGWINSZ, &size) == 0) {
        return size.ws_col;
    }
    return 0;
#endif
}

namespace {
// A handler reaches no object but through the process.
std::atomic<void (*)()> stopTarget{nullptr};
}  // namespace

#ifdef _WIN32

namespace {
BOOL WINAPI OnConsoleControl(DWORD event)
{
    void (*onStop)() = stopTarget.load();
    if (onStop == nullptr) {
        return FALSE;
    }
    onStop();
    // Windows ends the process once this returns for a closing console: give the run time to finish its
    // transfer and say where it stopped.
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        Sleep(5000);
    }
    return TRUE;
}
}  // namespace

StopSignals::StopSignals(void (*onStop)())
{
    stopTarget.store(onStop);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

StopSignals::~StopSignals()
{
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    stopTarget.store(nullptr);
}

#else

namespace {
// Ctrl+C, kill's default, and the hang-up a dropped SSH session sends.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction previous[std::size(kStopSignals)];

void OnSignal(int)
{
    if (void (*onStop)() = stopTarget.load()) {
        onStop();
    }
}
}  // namespace

StopSignals::StopSignals(void (*onStop)())
{
    stopTarget.store(onStop);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
        // A signal ignored when the program started stays ignored: SIGHUP under nohup, SIGINT for a
        // background job of a shell without job control. Whoever started the program chose that.
        if (sigaction(kStopSignals[i], nullptr, &previous[i]) == 0 && previous[i].sa_handler == SIG_IGN) {
            continue;
        }
        sigaction(kStopSignals[i], &action, &previous[i]);
    }
}

StopSignals::~StopSignals()
{
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
        sigaction(kStopSignals[i], &previous[i], nullptr);
    }
    stopTarget.store(nullptr);
}

#endif

std::string LocalTimeStamp(std::time_t when)
{
    std::tm local{};
    std::tm utc{};
#ifdef _WIN32
    localtime_s(&local, &when);
    gmtime_s(&utc, &when);
#else
    localtime_r(&when, &local);
    gmtime_r(&when, &utc);
#endif
    // The offset from the two broken-down times, since the MinGW runtime's %z gives none.
    int minutes = (local.tm_hour - utc.tm_hour) * 60 + (local.tm_min - utc.tm_min);
    const int dayStep = local.tm_year != utc.tm_year ? (local.tm_year > utc.tm_year ? 1 : -1)
                                                     : (local.tm_yday > utc.tm_yday ? 1 : local.tm_yday < utc.tm_yday ? -1 : 0);
    minutes += dayStep * 24 * 60;
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    const int magnitude = minutes < 0 ? -minutes : minutes;
    char offset[8];
    std::snprintf(offset, sizeof offset, "%c%02d%02d", minutes < 0 ? '-' : '+', magnitude / 60 % 100, magnitude % 60);
    return std::string(text) + offset;
}

bool IsTerminal(int fd)
{
#ifdef _WIN32
    DWORD mode = 0;
    const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    return h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode);
#else
    return isatty(fd) == 1;
#endif
}

std::vector<std::string> ProgramArguments(int argc, char** argv)
{
#ifdef _WIN32
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide != nullptr) {
        std::vector<std::string> args;
        for (int i = 0; i < count; ++i) {
            args.push_back(portable::Narrow(wide[i]));
        }
        LocalFree(wide);
        return args;
    }
#endif
    return std::vector<std::string>(argv, argv + argc);
}

#ifdef _WIN32
ExactWrites::ExactWrites(int fd) : fd_(fd), previous_(fd >= 0 ? _setmode(fd, _O_BINARY) : -1) {}

ExactWrites::~ExactWrites()
{
    if (previous_ != -1) {
        _setmode(fd_, previous_);
    }
}

Utf8Console::Utf8Console() : input_(GetConsoleCP()), output_(GetConsoleOutputCP())
{
    SetConsoleCP(CP_UTF8);
    SetConsoleOutputCP(CP_UTF8);
}

Utf8Console::~Utf8Console()
{
    if (input_ != 0) {
        SetConsoleCP(input_);
    }
    if (output_ != 0) {
        SetConsoleOutputCP(output_);
    }
}
#else
ExactWrites::ExactWrites(int fd) : fd_(fd) {}
ExactWrites::~ExactWrites() = default;

Utf8Console::Utf8Console() = default;
Utf8Console::~Utf8Console() = default;
#endif

// The process's standard descriptors, console events and console on Windows.
#include "portable/process_io.h"
#include "portable/windows_text.h"

#include <windows.h>

#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cerrno>
#include <cstring>

void OpenNullOnClosedStandardDescriptors()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (_get_osfhandle(fd) == -1) {
            const int opened = _open("NUL", fd == 0 ? _O_RDONLY : _O_WRONLY);
            if (opened >= 0 && opened != fd) {
                _dup2(opened, fd);
                _close(opened);
            }
        }
    }
}

// A write to a closed pipe fails with an error on Windows already; there is no signal to ignore.
void IgnoreBrokenPipe() {}

long WriteOnce(int fd, const char* data, std::size_t size)
{
    // _write takes an unsigned count: a larger write goes in parts.
    constexpr std::size_t kMost = 1u << 30;
    return _write(fd, data, static_cast<unsigned>(size < kMost ? size : kMost));
}

int TerminalWidth(int fd)
{
    const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (h == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(h, &info)) {
        return 0;
    }
    return info.srWindow.Right - info.srWindow.Left + 1;
}

namespace {
// A handler reaches no object but through the process.
std::atomic<void (*)()> stopTarget{nullptr};

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

void BreakDownTime(std::time_t when, std::tm& local, std::tm& utc)
{
    localtime_s(&local, &when);
    gmtime_s(&utc, &when);
}

bool IsTerminal(int fd)
{
    DWORD mode = 0;
    const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    return h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode);
}

std::vector<std::string> ProgramArguments(int argc, char** argv)
{
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {
        return std::vector<std::string>(argv, argv + argc);
    }
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i) {
        args.push_back(portable::Narrow(wide[i]));
    }
    LocalFree(wide);
    return args;
}

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

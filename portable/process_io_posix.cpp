// The process's standard descriptors, signals and terminal on Linux.
#include "portable/process_io.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <iterator>

void OpenNullOnClosedStandardDescriptors()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            // The lowest free number: this one, since those below it are open by now.
            const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
            if (opened >= 0 && opened != fd) {
                dup2(opened, fd);
                close(opened);
            }
        }
    }
}

void IgnoreBrokenPipe()
{
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

long WriteOnce(int fd, const char* data, std::size_t size)
{
    return static_cast<long>(write(fd, data, size));
}

int TerminalWidth(int fd)
{
    winsize size{};
    if (fd >= 0 && IsTerminal(fd) && ioctl(fd, TIOCGWINSZ, &size) == 0) {
        return size.ws_col;
    }
    return 0;
}

namespace {
// A handler reaches no object but through the process.
std::atomic<void (*)()> stopTarget{nullptr};
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

void BreakDownTime(std::time_t when, std::tm& local, std::tm& utc)
{
    localtime_r(&when, &local);
    gmtime_r(&when, &utc);
}

bool IsTerminal(int fd)
{
    return isatty(fd) == 1;
}

std::vector<std::string> ProgramArguments(int argc, char** argv)
{
    return std::vector<std::string>(argv, argv + argc);
}

ExactWrites::ExactWrites(int fd) : fd_(fd) {}
ExactWrites::~ExactWrites() = default;

Utf8Console::Utf8Console() = default;
Utf8Console::~Utf8Console() = default;

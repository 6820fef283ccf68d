#include "portable/wait.h"

#include <algorithm>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include <condition_variable>
#include <io.h>
#include <mutex>
#include <thread>
#else
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#endif

namespace portable {

#ifdef _WIN32

Wakeup::Wakeup() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

Wakeup::~Wakeup()
{
    if (event_) {
        CloseHandle(event_);
    }
}

bool Wakeup::Valid() const { return event_ != nullptr; }

void Wakeup::Raise()
{
    if (event_) {
        SetEvent(event_);
    }
}

void Wakeup::Clear()
{
    if (event_) {
        ResetEvent(event_);
    }
}

WaitHandle Wakeup::Handle() const { return event_; }

int WaitForAny(std::span<const WaitHandle> handles, int timeoutMs)
{
    std::vector<HANDLE> live;
    std::vector<int> index;
    for (std::size_t i = 0; i < handles.size(); ++i) {
        if (handles[i] != kNoWaitHandle) {
            live.push_back(handles[i]);
            index.push_back(static_cast<int>(i));
        }
    }
    const DWORD time = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
    if (live.empty()) {
        Sleep(time);
        return -1;
    }
    const DWORD result = WaitForMultipleObjects(static_cast<DWORD>(live.size()), live.data(), FALSE, time);
    if (result < WAIT_OBJECT_0 + live.size()) {
        return index[result - WAIT_OBJECT_0];
    }
    return -1;
}

// A thread reads ahead, since neither a pipe nor a console can be waited on for "readable". It stays blocked in
// ReadFile at exit when the input never ends; it is detached, and the process's end takes it.
struct InputPump::State {
    // A handle of the thread's own: the descriptor may be closed while it reads.
    explicit State(int fd)
    {
        const HANDLE given = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
        if (given == INVALID_HANDLE_VALUE ||
            !DuplicateHandle(GetCurrentProcess(), given, GetCurrentProcess(), &input, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
            input = INVALID_HANDLE_VALUE;
        }
    }
    ~State()
    {
        if (input != INVALID_HANDLE_VALUE) {
            CloseHandle(input);
        }
    }
    HANDLE input = INVALID_HANDLE_VALUE;
    Wakeup ready;
    std::mutex mutex;
    std::string pending;
    bool ended = false;
};

InputPump::InputPump(int fd) : state_(std::make_shared<State>(fd))
{
    if (state_->input == INVALID_HANDLE_VALUE) {
        state_->ended = true;
        state_->ready.Raise();
        return;
    }
    std::thread([state = state_] {
        char buffer[4096];
        for (;;) {
            DWORD n = 0;
            const bool ok = ReadFile(state->input, buffer, sizeof buffer, &n, nullptr);
            std::lock_guard lock(state->mutex);
            if (!ok || n == 0) {
                state->ended = true;
            } else {
                state->pending.append(buffer, n);
            }
            state->ready.Raise();
            if (state->ended) {
                return;
            }
        }
    }).detach();
}

InputPump::~InputPump() = default;

WaitHandle InputPump::Handle() const { return state_->ready.Handle(); }

std::string InputPump::Read(bool& ended)
{
    std::lock_guard lock(state_->mutex);
    std::string out;
    out.swap(state_->pending);
    ended = out.empty() && state_->ended;
    if (!state_->ended) {
        state_->ready.Clear();
    }
    return out;
}

#else

Wakeup::Wakeup()
{
    if (pipe2(fds_, O_NONBLOCK | O_CLOEXEC) != 0) {
        fds_[0] = fds_[1] = -1;
    }
}

Wakeup::~Wakeup()
{
    for (int fd : fds_) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

bool Wakeup::Valid() const { return fds_[0] >= 0; }

void Wakeup::Raise()
{
    if (fds_[1] >= 0) {
        const char byte = 1;  // a full pipe is raised already
        [[maybe_unused]] const ssize_t n = write(fds_[1], &byte, 1);
    }
}

void Wakeup::Clear()
{
    char scratch[64];
    while (fds_[0] >= 0 && read(fds_[0], scratch, sizeof scratch) > 0) {
    }
}

WaitHandle Wakeup::Handle() const { return fds_[0]; }

int WaitForAny(std::span<const WaitHandle> handles, int timeoutMs)
{
    std::vector<pollfd> p;
    for (WaitHandle fd : handles) {
        p.push_back({fd, POLLIN, 0});  // poll skips a negative descriptor
    }
    const int n = poll(p.data(), p.size(), timeoutMs);
    if (n <= 0) {
        return -1;
    }
    for (std::size_t i = 0; i < p.size(); ++i) {
        // An input at its end or failed is ready too: the read that follows says so.
        if (p[i].revents & (POLLIN | POLLHUP | POLLERR)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

struct InputPump::State {
    int fd;
};

InputPump::InputPump(int fd) : state_(std::make_shared<State>(State{fd})) {}

InputPump::~InputPump() = default;

WaitHandle InputPump::Handle() const { return state_->fd; }

std::string InputPump::Read(bool& ended)
{
    char buffer[4096];
    ssize_t n;
    do {
        n = read(state_->fd, buffer, sizeof buffer);
    } while (n < 0 && errno == EINTR);
    ended = n <= 0 && !(n < 0 && errno == EAGAIN);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

#endif

}  // namespace portable

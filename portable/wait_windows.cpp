// Waiting on Windows: events, and standard input through a reading thread.
#include "portable/wait.h"

#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <io.h>
#include <mutex>
#include <thread>
#include <vector>

namespace portable {

Wakeup::Wakeup()
{
    handles_[0] = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

Wakeup::~Wakeup()
{
    if (handles_[0]) {
        CloseHandle(handles_[0]);
    }
}

bool Wakeup::Valid() const
{
    return handles_[0] != nullptr;
}

void Wakeup::Raise()
{
    if (handles_[0]) {
        SetEvent(handles_[0]);
    }
}

void Wakeup::Clear()
{
    if (handles_[0]) {
        ResetEvent(handles_[0]);
    }
}

WaitHandle Wakeup::Handle() const
{
    return handles_[0];
}

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
        if (given == INVALID_HANDLE_VALUE || !DuplicateHandle(GetCurrentProcess(), given, GetCurrentProcess(), &input,
                                                              0, FALSE, DUPLICATE_SAME_ACCESS)) {
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

WaitHandle InputPump::Handle() const
{
    return state_->ready.Handle();
}

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

}  // namespace portable

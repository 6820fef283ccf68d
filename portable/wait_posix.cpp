// Waiting on Linux: descriptors and poll, a pipe for the wakeup.
#include "portable/wait.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace portable {

Wakeup::Wakeup()
{
    if (pipe2(handles_, O_NONBLOCK | O_CLOEXEC) != 0) {
        handles_[0] = handles_[1] = -1;
    }
}

Wakeup::~Wakeup()
{
    for (int fd : handles_) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

bool Wakeup::Valid() const
{
    return handles_[0] >= 0;
}

void Wakeup::Raise()
{
    if (handles_[1] >= 0) {
        const char byte = 1;  // a full pipe is raised already
        [[maybe_unused]] const ssize_t n = write(handles_[1], &byte, 1);
    }
}

void Wakeup::Clear()
{
    char scratch[64];
    while (handles_[0] >= 0 && read(handles_[0], scratch, sizeof scratch) > 0) {}
}

WaitHandle Wakeup::Handle() const
{
    return handles_[0];
}

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

WaitHandle InputPump::Handle() const
{
    return state_->fd;
}

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

}  // namespace portable

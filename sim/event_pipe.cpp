#include "sim/event_pipe.h"

#include <fcntl.h>
#include <unistd.h>

namespace sim {

EventPipe::EventPipe()
{
    if (pipe2(fds_, O_NONBLOCK | O_CLOEXEC) != 0) {
        fds_[0] = fds_[1] = -1;
    }
}

EventPipe::~EventPipe()
{
    for (int fd : fds_) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

std::vector<HotplugEvent> EventPipe::ReadEvents()
{
    char scratch[64];
    while (fds_[0] >= 0 && read(fds_[0], scratch, sizeof scratch) > 0) {
    }
    std::lock_guard lock(mutex_);
    std::vector<HotplugEvent> events(queue_.begin(), queue_.end());
    queue_.clear();
    return events;
}

void EventPipe::Push(HotplugEvent event)
{
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(event));
    }
    if (fds_[1] >= 0) {
        const char byte = 1;  // one per event; the reader drains them all
        [[maybe_unused]] ssize_t n = write(fds_[1], &byte, 1);
    }
}

}  // namespace sim

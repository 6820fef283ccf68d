#include "session/stop_request.h"

#include <fcntl.h>
#include <unistd.h>

StopRequest::StopRequest()
{
    if (pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) {
        fds_[0] = fds_[1] = -1;
    }
}

StopRequest::~StopRequest()
{
    for (int fd : fds_) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

void StopRequest::Request()
{
    if (!requested_.exchange(true) && fds_[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = write(fds_[1], &byte, 1);
    }
}

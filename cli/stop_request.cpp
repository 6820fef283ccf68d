#include "cli/stop_request.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace {

// A signal handler reaches no object but through the process: the one request the signals go to now.
std::atomic<StopRequest*> signalTarget{nullptr};
struct sigaction previousInt;
struct sigaction previousTerm;

void OnSignal(int)
{
    if (StopRequest* stop = signalTarget.load()) {
        stop->Request();
    }
}

}  // namespace

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

StopOnSignals::StopOnSignals(StopRequest& stop)
{
    signalTarget.store(&stop);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &previousInt);
    sigaction(SIGTERM, &action, &previousTerm);
}

StopOnSignals::~StopOnSignals()
{
    sigaction(SIGINT, &previousInt, nullptr);
    sigaction(SIGTERM, &previousTerm, nullptr);
    signalTarget.store(nullptr);
}

#include "cli/stop_on_signals.h"

#include <signal.h>

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

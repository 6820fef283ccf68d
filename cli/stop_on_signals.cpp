#include "cli/stop_on_signals.h"

#include <signal.h>

#include <iterator>

namespace {

// A signal handler reaches no object but through the process: the one request the signals go to now.
std::atomic<StopRequest*> signalTarget{nullptr};
// Ctrl+C, kill's default, and the hang-up a dropped SSH session sends.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction previous[std::size(kStopSignals)];

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
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
        sigaction(kStopSignals[i], &action, &previous[i]);
    }
}

StopOnSignals::~StopOnSignals()
{
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
        sigaction(kStopSignals[i], &previous[i], nullptr);
    }
    signalTarget.store(nullptr);
}

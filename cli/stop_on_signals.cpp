#include "cli/stop_on_signals.h"

namespace {

// A signal handler reaches no object but through the process: the one request the signals go to now.
std::atomic<StopRequest*> signalTarget{nullptr};

void OnStop()
{
    if (StopRequest* stop = signalTarget.load()) {
        stop->Request();
    }
}

}  // namespace

StopOnSignals::StopOnSignals(StopRequest& stop) : signals_((signalTarget.store(&stop), OnStop)) {}

StopOnSignals::~StopOnSignals()
{
    signalTarget.store(nullptr);
}

// Ctrl+C, SIGTERM and SIGHUP as a request to stop a run that changes a controller at its next safe point,
// instead of ending the process halfway.
#pragma once

#include "portable/process_io.h"
#include "session/stop_request.h"

// While it exists, SIGINT, SIGTERM and SIGHUP (Ctrl+C, Ctrl+Break and a closing console on Windows) request
// `stop` instead of ending the process; the handling from before comes back when it goes.
class StopOnSignals {
public:
    explicit StopOnSignals(StopRequest& stop);
    ~StopOnSignals();
    StopOnSignals(const StopOnSignals&) = delete;
    StopOnSignals& operator=(const StopOnSignals&) = delete;

private:
    StopSignals signals_;
};

// Ctrl+C and SIGTERM as a request to stop a long run at its next safe point, instead of ending the process.
#pragma once

#include "session/stop_request.h"

// While it exists, SIGINT and SIGTERM request `stop` instead of ending the process; the handlers from
// before come back when it goes.
class StopOnSignals {
public:
    explicit StopOnSignals(StopRequest& stop);
    ~StopOnSignals();
    StopOnSignals(const StopOnSignals&) = delete;
    StopOnSignals& operator=(const StopOnSignals&) = delete;
};

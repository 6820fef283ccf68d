// A request to stop a long run (provision) at its next safe point: from Ctrl+C, or from a test. Waits watch
// its handle, so a request wakes them at once; work checks Requested() between transfers.
#pragma once

#include "portable/wait.h"

#include <atomic>

class StopRequest {
public:
    // Safe from a signal handler and from any thread.
    void Request();
    bool Requested() const { return requested_.load(); }
    // Ready once a stop was requested.
    portable::WaitHandle Waitable() const { return raised_.Handle(); }

private:
    portable::Wakeup raised_;
    std::atomic<bool> requested_{false};
};

// A request to stop a long run (provision) at its next safe point: from Ctrl+C, or from a test. Waits poll
// its descriptor, so a request wakes them at once; work checks Requested() between transfers.
#pragma once

#include <atomic>

class StopRequest {
public:
    StopRequest();
    ~StopRequest();
    StopRequest(const StopRequest&) = delete;
    StopRequest& operator=(const StopRequest&) = delete;

    // Safe from a signal handler and from any thread.
    void Request();
    bool Requested() const { return requested_.load(); }
    // Readable once a stop was requested.
    int Fd() const { return fds_[0]; }

private:
    int fds_[2] = {-1, -1};
    std::atomic<bool> requested_{false};
};

// A queue of hot-plug events with a descriptor that becomes readable when events wait, so a window can
// watch it as it watches a udev socket. Push from any thread.
#pragma once

#include "device/hotplug.h"

#include <deque>
#include <mutex>
#include <vector>

namespace sim {

class EventPipe : public HotplugMonitor {
public:
    EventPipe();
    ~EventPipe() override;
    EventPipe(const EventPipe&) = delete;
    EventPipe& operator=(const EventPipe&) = delete;

    int Fd() const override { return fds_[0]; }
    std::vector<HotplugEvent> ReadEvents() override;
    void Push(HotplugEvent event);

private:
    int fds_[2] = {-1, -1};
    std::mutex mutex_;
    std::deque<HotplugEvent> queue_;
};

}  // namespace sim

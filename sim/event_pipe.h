// A queue of hot-plug events that wakes a waiter when events wait, so a window watches it as it watches the
// platform's monitor. Push from any thread.
#pragma once

#include "device/hotplug.h"
#include "portable/wait.h"

#include <deque>
#include <mutex>
#include <vector>

namespace sim {

class EventPipe : public HotplugMonitor {
public:
    portable::WaitHandle Waitable() const override { return ready_.Handle(); }
    std::vector<HotplugEvent> ReadEvents() override;
    void Push(HotplugEvent event);

private:
    portable::Wakeup ready_;
    std::mutex mutex_;
    std::deque<HotplugEvent> queue_;
};

}  // namespace sim

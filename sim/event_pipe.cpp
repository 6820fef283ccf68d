#include "sim/event_pipe.h"

namespace sim {

std::vector<HotplugEvent> EventPipe::ReadEvents()
{
    std::lock_guard lock(mutex_);
    // Lowered under the lock, so an event pushed after it raises it again.
    ready_.Clear();
    std::vector<HotplugEvent> events(queue_.begin(), queue_.end());
    queue_.clear();
    return events;
}

void EventPipe::Push(HotplugEvent event)
{
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(event));
    ready_.Raise();
}

}  // namespace sim

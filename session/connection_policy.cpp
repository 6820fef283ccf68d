#include "session/connection_policy.h"

#include "portable/wait.h"

#include <algorithm>
#include <utility>

namespace {

// Shorter than any device path a platform gives: such a notification names no device.
constexpr std::size_t kShortestDevicePath = 5;

ConnectionDecision Only(ConnectionDecision::Kind kind)
{
    ConnectionDecision decision;
    decision.kind = kind;
    return decision;
}

bool NamesDevice(const HotplugEvent& event)
{
    return event.action != HotplugAction::Other && event.devicePath.size() >= kShortestDevicePath;
}

// Waits until `monitor` has events, `stop` is requested, or `deadline` passes. False on a stop or the deadline.
bool AwaitEvents(HotplugMonitor& monitor, std::chrono::steady_clock::time_point deadline, const StopRequest* stop)
{
    for (;;) {
        if (stop && stop->Requested()) {
            return false;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        const portable::WaitHandle handles[] = {monitor.Waitable(), stop ? stop->Waitable() : portable::kNoWaitHandle};
        if (portable::WaitForAny(handles, static_cast<int>(std::min<long long>(left.count(), 1000))) == 0) {
            return true;
        }
    }
}

}  // namespace

ConnectionPolicy::ConnectionPolicy(ControllerSession& session, SettleWait settle, std::chrono::milliseconds settleTime)
    : session_(session),
      settle_(std::move(settle)),
      settleTime_(settleTime),
      hold_([this](std::string& heldBy, std::string& error) {
          return session_.Hold(heldBy, error, /*throughRestart=*/true);
      })
{
}

ConnectionDecision ConnectionPolicy::Probe()
{
    if (!session_.ProbeDevice()) {
        return Leave();
    }
    return Hold();
}

ConnectionDecision ConnectionPolicy::OnChange(DeviceChange change, const std::string& path)
{
    if (path.size() < kShortestDevicePath) {
        return Only(ConnectionDecision::Kind::Ignore);
    }
    const std::string inUse = shown_;
    bool present = session_.FindDevice();
    // The controller shown is the one changed: while it is still there, another found first does not take
    // its place.
    bool otherInUse = false;
    if (present && !inUse.empty() && session_.DevicePath() != inUse) {
        const std::string other = session_.DevicePath();
        if (path == inUse || !session_.FindDevice(inUse)) {
            // The one shown has left: the one found comes as if it had just arrived.
            present = session_.FindDevice(other);
            otherInUse = present;
        }
    }
    switch (change) {
    case DeviceChange::NodesChanged:
        return present ? AfterSettling() : Leave();
    case DeviceChange::Arrival:
        return present ? AfterSettling() : Only(ConnectionDecision::Kind::Stay);
    case DeviceChange::Removal:
        if (!present) {
            return Leave();
        }
        return otherInUse ? AfterSettling() : Only(ConnectionDecision::Kind::Stay);
    case DeviceChange::Other:
        break;
    }
    return Only(ConnectionDecision::Kind::Stay);
}

ConnectionDecision ConnectionPolicy::RetryHold()
{
    if (!heldElsewhere_) {
        return Only(ConnectionDecision::Kind::Stay);
    }
    if (!session_.FindDevice()) {
        return Leave();
    }
    return Hold();
}

ConnectionDecision ConnectionPolicy::AfterSettling()
{
    if (settle_) {
        settle_(settleTime_);
    }
    // What arrived during the wait is taken with it, so a bouncing connector costs one wait and one view:
    // the controller's presence after all of them decides, and the one found before the wait stays the one
    // shown if it is still there.
    const std::string found = session_.DevicePath();
    if (DeviceNamedMeanwhile() && !session_.FindDevice(found) && !session_.FindDevice()) {
        return Leave();
    }
    return Hold();
}

ConnectionDecision ConnectionPolicy::Hold()
{
    ConnectionDecision decision;
    decision.path = session_.DevicePath();
    if (hold_(decision.heldBy, decision.error)) {
        heldElsewhere_ = false;
        shown_ = decision.path;
        decision.kind = ConnectionDecision::Kind::Connect;
        return decision;
    }
    if (decision.heldBy.empty() && decision.error.empty()) {
        return Leave();  // it left before it could be held
    }
    // Not shown until the other program is done, so nothing shows values it is changing, nor writes over them.
    heldElsewhere_ = true;
    shown_.clear();
    decision.kind = ConnectionDecision::Kind::HeldElsewhere;
    return decision;
}

ConnectionDecision ConnectionPolicy::Leave()
{
    heldElsewhere_ = false;
    shown_.clear();
    // An install's restart keeps the hold: the controller comes back where it left.
    if (!session_.UpdatePending()) {
        session_.Release();
    }
    return Only(ConnectionDecision::Kind::Disconnect);
}

void ConnectionPolicy::Queue(std::vector<HotplugEvent> events)
{
    for (HotplugEvent& event : events) {
        queue_.push_back(std::move(event));
    }
}

std::optional<HotplugEvent> ConnectionPolicy::NextQueued()
{
    if (queue_.empty()) {
        return std::nullopt;
    }
    HotplugEvent event = std::move(queue_.front());
    queue_.pop_front();
    return event;
}

bool ConnectionPolicy::DeviceNamedMeanwhile()
{
    if (source_) {
        Queue(source_());
    }
    const bool any = std::any_of(queue_.begin(), queue_.end(), NamesDevice);
    queue_.clear();
    return any;
}

std::vector<HidDeviceInfo> ConnectionPolicy::NewUnits(const std::function<bool(const HidDeviceInfo&)>& inHand)
{
    std::set<std::string> present;
    std::vector<HidDeviceInfo> fresh;
    for (const HidDeviceInfo& info : session_.Controllers()) {
        present.insert(info.path);
        if (!handled_.count(info.path) && !inHand(info)) {
            fresh.push_back(info);
        }
    }
    // A controller pulled out and plugged in again is a new unit.
    std::erase_if(handled_, [&](const std::string& p) { return !present.count(p); });
    std::erase_if(settled_, [&](const std::string& p) { return !present.count(p); });
    return fresh;
}

void ConnectionPolicy::Removed(const std::string& path)
{
    handled_.erase(path);
    settled_.erase(path);
}

bool ConnectionPolicy::AwaitLeave(HotplugMonitor& monitor, const std::string& path, std::chrono::milliseconds limit,
                                  const StopRequest* stop)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    queue_.clear();
    auto present = [&] {
        const std::vector<HidDeviceInfo> found = session_.Controllers();
        return std::any_of(found.begin(), found.end(), [&](const HidDeviceInfo& i) { return i.path == path; });
    };
    // The controller may have left before the monitor could say so.
    if (!present()) {
        return true;
    }
    while (AwaitEvents(monitor, deadline, stop)) {
        const std::vector<HotplugEvent> events = monitor.ReadEvents();
        for (auto it = events.begin(); it != events.end(); ++it) {
            // Its sysfs entry may outlive the event by a moment; the event is what counts.
            if (it->action == HotplugAction::Remove && it->devicePath == path) {
                // What came after it in the same read (its return, when the system was slow to tell) is the
                // next wait's.
                queue_.assign(it + 1, events.end());
                return true;
            }
        }
    }
    return false;
}

std::string ConnectionPolicy::AwaitArrival(HotplugMonitor& monitor, std::chrono::milliseconds limit,
                                           const StopRequest* stop)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!queue_.empty() || AwaitEvents(monitor, deadline, stop)) {
        if (queue_.empty()) {
            Queue(monitor.ReadEvents());
        }
        while (std::optional<HotplugEvent> event = NextQueued()) {
            if (event->action != HotplugAction::Add) {
                continue;
            }
            // Other devices of the machine come and go too; only a controller counts.
            for (const HidDeviceInfo& info : session_.Controllers()) {
                if (info.path == event->devicePath) {
                    queue_.clear();  // the rest of that read is past
                    return info.path;
                }
            }
        }
    }
    return {};
}

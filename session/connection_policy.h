// Which controller is the current one, and what a plug or pull-out means for it: the one rule both programs
// follow. The window asks it on every notification and shows its answer; doorphonectl blocks in its waits.
// No window and no console here.
#pragma once

#include "device/hotplug.h"
#include "session/controller_session.h"
#include "session/stop_request.h"

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

// What the platform said happened. Other: a notification of another kind, which changes nothing.
enum class DeviceChange { Arrival, Removal, NodesChanged, Other };

// What the caller is to show.
struct ConnectionDecision {
    enum class Kind {
        Ignore,         // the notification names no device: nothing is looked at
        Stay,           // the view stays as it is (the count of controllers attached may have changed)
        Connect,        // the controller at `path` is held and is the one shown
        Disconnect,     // no controller to show
        HeldElsewhere,  // one is at `path`, but `heldBy` holds it, or `error` says why it cannot be held
    };
    Kind kind = Kind::Stay;
    std::string path;
    std::string heldBy;
    std::string error;
};

class ConnectionPolicy {
public:
    // The wait after an arrival before a controller answers reliably; tests count it instead of sleeping.
    using SettleWait = std::function<void(std::chrono::milliseconds)>;
    // The notifications that came in since they were last read (the caller's monitor), or none.
    using EventSource = std::function<std::vector<HotplugEvent>()>;
    // Takes the hold on the controller open now: false with who holds it (`heldBy`) or why not (`error`).
    using HoldStep = std::function<bool(std::string& heldBy, std::string& error)>;

    ConnectionPolicy(ControllerSession& session, SettleWait settle,
                     std::chrono::milliseconds settleTime = controller::kArrivalSettleTime);
    ConnectionPolicy(const ConnectionPolicy&) = delete;
    ConnectionPolicy& operator=(const ConnectionPolicy&) = delete;

    void SetSettleTime(std::chrono::milliseconds time) { settleTime_ = time; }
    void SetEventSource(EventSource source) { source_ = std::move(source); }
    // By default the session's own hold, kept through an install's restart (the window may install at any
    // time); another program's hold stands in for it in tests.
    void SetHoldStep(HoldStep hold) { hold_ = std::move(hold); }

    // At start: the first controller that answers its status report, held.
    ConnectionDecision Probe();
    // A notification about the device at `path`.
    ConnectionDecision OnChange(DeviceChange change, const std::string& path);
    // While another program holds the controller: tried again now.
    ConnectionDecision RetryHold();
    // The caller no longer shows the controller (a failed install); its hold stays for the restart.
    void Dropped() { shown_.clear(); }

    // The controller shown, or empty.
    const std::string& Shown() const { return shown_; }
    bool HeldElsewhere() const { return heldElsewhere_; }

    // Notifications read and not yet handled, first come first out.
    void Queue(std::vector<HotplugEvent> events);
    std::optional<HotplugEvent> NextQueued();

    // A bench worked on unit by unit (provision). The controllers present that are new units: not handled
    // since they were plugged in, and not `inHand` (at work already); in the platform's order.
    std::vector<HidDeviceInfo> NewUnits(const std::function<bool(const HidDeviceInfo&)>& inHand);
    // Past its settle time, or there when the run began: not waited for again while it stays.
    void Settled(const std::string& path) { settled_.insert(path); }
    bool IsSettled(const std::string& path) const { return settled_.count(path) != 0; }
    // Done with until it is pulled out.
    void Handled(const std::string& path) { handled_.insert(path); }
    // Pulled out: what comes at its node next is a new unit, even while the listing still shows this one.
    void Removed(const std::string& path);

    // Where the caller blocks (the command line). A stop request ends each wait at once.
    // Whether the controller at `path` left within `limit`.
    bool AwaitLeave(HotplugMonitor& monitor, const std::string& path, std::chrono::milliseconds limit,
                    const StopRequest* stop = nullptr);
    // The path of a controller that arrived within `limit`, or empty.
    std::string AwaitArrival(HotplugMonitor& monitor, std::chrono::milliseconds limit,
                             const StopRequest* stop = nullptr);

private:
    ConnectionDecision AfterSettling();
    ConnectionDecision Hold();
    ConnectionDecision Leave();
    // Takes what came in meanwhile; true when any of it names a device.
    bool DeviceNamedMeanwhile();

    ControllerSession& session_;
    SettleWait settle_;
    std::chrono::milliseconds settleTime_;
    EventSource source_;
    HoldStep hold_;
    std::string shown_;
    bool heldElsewhere_ = false;
    std::deque<HotplugEvent> queue_;
    std::set<std::string> handled_;  // units done with, not pulled out since
    std::set<std::string> settled_;  // units past their settle time
};

// The connection policy on a bench of virtual controllers: scripted plugs and pull-outs, the settle wait
// counted instead of slept, and another program's hold put in place of this one's.
#include "session/connection_policy.h"

#include "device/carried_firmware.h"
#include "sim/virtual_controller.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using Kind = ConnectionDecision::Kind;
using namespace std::chrono_literals;

class Policy : public ::testing::Test {
protected:
    Policy()
    {
        policy.SetEventSource([this] { return monitor->ReadEvents(); });
    }

    // Every notification that came in so far, handed to the policy one by one as the window does.
    std::vector<ConnectionDecision> Deliver()
    {
        std::vector<ConnectionDecision> decisions;
        policy.Queue(monitor->ReadEvents());
        while (const std::optional<HotplugEvent> event = policy.NextQueued()) {
            const DeviceChange change = event->action == HotplugAction::Add      ? DeviceChange::Arrival
                                        : event->action == HotplugAction::Remove ? DeviceChange::Removal
                                                                                 : DeviceChange::Other;
            decisions.push_back(policy.OnChange(change, event->devicePath));
        }
        return decisions;
    }

    static std::vector<Kind> Kinds(const std::vector<ConnectionDecision>& decisions)
    {
        std::vector<Kind> kinds;
        for (const ConnectionDecision& d : decisions) {
            kinds.push_back(d.kind);
        }
        return kinds;
    }

    sim::VirtualController bench;
    DeviceLink link{bench};
    ControllerSession session{link};
    std::unique_ptr<HotplugMonitor> monitor = bench.CreateMonitor();
    int settles = 0;
    std::function<void()> duringSettle;  // what the bench does while the caller waits
    ConnectionPolicy policy{session, [this](std::chrono::milliseconds wait) {
                                EXPECT_EQ(wait, controller::kArrivalSettleTime);
                                ++settles;
                                if (duringSettle) {
                                    std::exchange(duringSettle, nullptr)();
                                }
                            }};
};

TEST_F(Policy, StartShowsTheFirstControllerThatAnswersOrNone)
{
    const ConnectionDecision shown = policy.Probe();
    EXPECT_EQ(shown.kind, Kind::Connect);
    EXPECT_EQ(shown.path, bench.FirstUnit().Path());
    EXPECT_EQ(policy.Shown(), bench.FirstUnit().Path());
    EXPECT_EQ(settles, 0);  // a controller present at the start has settled already

    bench.FirstUnit().Unplug();
    monitor->ReadEvents();
    EXPECT_EQ(policy.Probe().kind, Kind::Disconnect);
    EXPECT_EQ(policy.Shown(), "");
}

TEST_F(Policy, ANotificationThatNamesNoDeviceChangesNothing)
{
    policy.Probe();
    const int transfers = bench.FirstUnit().TransferCount();
    EXPECT_EQ(policy.OnChange(DeviceChange::Arrival, "").kind, Kind::Ignore);
    EXPECT_EQ(policy.OnChange(DeviceChange::Removal, "abcd").kind, Kind::Ignore);
    EXPECT_EQ(policy.OnChange(DeviceChange::Other, bench.FirstUnit().Path()).kind, Kind::Stay);
    EXPECT_EQ(settles, 0);
    EXPECT_EQ(policy.Shown(), bench.FirstUnit().Path());
    EXPECT_EQ(bench.FirstUnit().TransferCount(), transfers);
}

TEST_F(Policy, PullOutThenPlugInDisconnectsThenConnectsAfterOneSettle)
{
    policy.Probe();
    bench.FirstUnit().Unplug();
    EXPECT_EQ(Kinds(Deliver()), std::vector{Kind::Disconnect});
    EXPECT_EQ(settles, 0);

    bench.FirstUnit().Plug();
    const std::vector<ConnectionDecision> back = Deliver();
    ASSERT_EQ(Kinds(back), std::vector{Kind::Connect});
    EXPECT_EQ(back[0].path, bench.FirstUnit().Path());
    EXPECT_EQ(settles, 1);

    // A device of another kind, or a removal that leaves the controller, changes nothing shown.
    EXPECT_EQ(policy.OnChange(DeviceChange::Removal, "/dev/hidraw9").kind, Kind::Stay);
    EXPECT_EQ(policy.OnChange(DeviceChange::Arrival, "/dev/hidraw9").kind, Kind::Connect);  // read anew
    EXPECT_EQ(settles, 2);
}

TEST_F(Policy, ABouncingConnectorCostsOneSettleAndItsLastStateDecides)
{
    bench.FirstUnit().Unplug();
    Deliver();
    // In and out twice, and in at the end: one wait, one connection, nothing left over.
    duringSettle = [&] {
        bench.FirstUnit().Unplug();
        bench.FirstUnit().Plug();
        bench.FirstUnit().Unplug();
        bench.FirstUnit().Plug();
    };
    bench.FirstUnit().Plug();
    EXPECT_EQ(Kinds(Deliver()), std::vector{Kind::Connect});
    EXPECT_EQ(settles, 1);
    EXPECT_FALSE(policy.NextQueued());

    // Out at the end: disconnected after the one wait.
    bench.FirstUnit().Unplug();
    Deliver();
    duringSettle = [&] {
        bench.FirstUnit().Unplug();
        bench.FirstUnit().Plug();
        bench.FirstUnit().Unplug();
    };
    bench.FirstUnit().Plug();
    EXPECT_EQ(Kinds(Deliver()), std::vector{Kind::Disconnect});
    EXPECT_EQ(settles, 2);
    EXPECT_EQ(policy.Shown(), "");
}

TEST_F(Policy, AControllerAnotherProgramHoldsIsNotShownUntilItIsFree)
{
    std::string holder = "doorphonectl, process 42 of user alice";
    policy.SetHoldStep([&](std::string& heldBy, std::string&) {
        heldBy = holder;
        return holder.empty();
    });
    const ConnectionDecision held = policy.Probe();
    EXPECT_EQ(held.kind, Kind::HeldElsewhere);
    EXPECT_EQ(held.path, bench.FirstUnit().Path());
    EXPECT_EQ(held.heldBy, holder);
    EXPECT_TRUE(policy.HeldElsewhere());
    EXPECT_EQ(policy.Shown(), "");

    EXPECT_EQ(policy.RetryHold().kind, Kind::HeldElsewhere);
    holder.clear();
    const ConnectionDecision free = policy.RetryHold();
    EXPECT_EQ(free.kind, Kind::Connect);
    EXPECT_EQ(free.path, bench.FirstUnit().Path());
    EXPECT_FALSE(policy.HeldElsewhere());
    EXPECT_EQ(policy.RetryHold().kind, Kind::Stay);  // nothing left to retry

    // Refused on a re-check while shown: it is no longer the one shown.
    holder = "doorphonectl, process 43 of user alice";
    EXPECT_EQ(policy.OnChange(DeviceChange::Arrival, "/dev/hidraw9").kind, Kind::HeldElsewhere);
    EXPECT_EQ(policy.Shown(), "");
    holder.clear();
    EXPECT_EQ(policy.RetryHold().kind, Kind::Connect);

    // Held again on its return, then pulled out while held: the retry finds nothing.
    holder = "doorphonectl, process 43 of user alice";
    bench.FirstUnit().Unplug();
    EXPECT_EQ(Kinds(Deliver()), std::vector{Kind::Disconnect});
    bench.FirstUnit().Plug();
    EXPECT_EQ(Kinds(Deliver()), std::vector{Kind::HeldElsewhere});
    bench.FirstUnit().Unplug();
    EXPECT_EQ(policy.RetryHold().kind, Kind::Disconnect);
    EXPECT_FALSE(policy.HeldElsewhere());

    // Gone between its listing and the hold (the session names neither holder nor error): not there, not
    // refused.
    bench.FirstUnit().Plug();
    Deliver();
    policy.SetHoldStep([&](std::string&, std::string&) {
        bench.FirstUnit().Unplug();
        return false;
    });
    EXPECT_EQ(policy.Probe().kind, Kind::Disconnect);
    EXPECT_FALSE(policy.HeldElsewhere());
}

TEST_F(Policy, AnotherControllerBesideTheShownOneNeverTakesItsPlace)
{
    sim::VirtualUnit first = bench.FirstUnit();
    policy.Probe();
    sim::VirtualUnit second = bench.Attach();
    EXPECT_EQ(Deliver()[0].path, first.Path());  // it arrives beside: the first is read anew, still shown

    // The shown one leaves: the other comes as if it had just arrived.
    first.Unplug();
    const std::vector<ConnectionDecision> moved = Deliver();
    ASSERT_EQ(Kinds(moved), std::vector{Kind::Connect});
    EXPECT_EQ(moved[0].path, second.Path());

    // The first comes back ahead of it in the platform's order; the shown one stays while it is there.
    first.Plug();
    const std::vector<ConnectionDecision> ahead = Deliver();
    ASSERT_EQ(Kinds(ahead), std::vector{Kind::Connect});
    EXPECT_EQ(ahead[0].path, second.Path());
    EXPECT_EQ(policy.Shown(), second.Path());
    first.Unplug();
    EXPECT_EQ(Kinds(Deliver()), std::vector{Kind::Stay});
    EXPECT_EQ(policy.Shown(), second.Path());

    // Once the caller shows none (a failed install), the first one found is the one shown.
    policy.Dropped();
    first.Plug();
    const std::vector<ConnectionDecision> afresh = Deliver();
    ASSERT_EQ(Kinds(afresh), std::vector{Kind::Connect});
    EXPECT_EQ(afresh[0].path, first.Path());
}

TEST_F(Policy, TheProgrammedControllerGetsItsDefaultsOnItsReturnAndASwappedOneNothing)
{
    sim::VirtualUnit programmed = bench.FirstUnit();
    policy.Probe();
    SettingsSnapshot before;
    ASSERT_TRUE(session.ReadSettings(before));
    session.BeginInstall(&before);

    // It restarts with the carried firmware: shown again, and owed its restore once.
    programmed.Unplug();
    EXPECT_EQ(Kinds(Deliver()), std::vector{Kind::Disconnect});
    const auto carried = EncodeFirmwareVersion(CarriedFirmwareVersion());
    programmed.SetFirmware(carried[0], carried[1]);
    programmed.Plug();
    EXPECT_EQ(Kinds(Deliver()), std::vector{Kind::Connect});
    EXPECT_EQ(policy.Shown(), programmed.Path());
    SettingsSnapshot now;
    ASSERT_TRUE(session.ReadSettings(now));
    EXPECT_EQ(session.RestoreOwedDefaults(&now), ControllerSession::OwedRestore::Sent);
    EXPECT_EQ(session.RestoreOwedDefaults(&now), ControllerSession::OwedRestore::None);

    // Another install, and another controller swapped in during the restart, its leave and arrival heard
    // together: one wait, and it is shown, but left as it is. It runs the same firmware with the same
    // settings; only where it is plugged in tells it apart.
    ASSERT_TRUE(session.ReadSettings(before));
    session.BeginInstall(&before);
    sim::VirtualUnit swapped = bench.PlugNext(programmed.Path(), CarriedFirmwareVersion());
    settles = 0;
    const std::vector<ConnectionDecision> decisions = Deliver();
    ASSERT_EQ(Kinds(decisions), std::vector{Kind::Connect});
    EXPECT_EQ(decisions[0].path, swapped.Path());
    EXPECT_EQ(settles, 1);
    ASSERT_TRUE(session.ReadSettings(now));
    const int transfers = swapped.TransferCount();
    EXPECT_EQ(session.RestoreOwedDefaults(&now), ControllerSession::OwedRestore::OtherController);
    EXPECT_EQ(swapped.TransferCount(), transfers);
    EXPECT_TRUE(session.UpdatePending());  // still owed to the programmed one
}

TEST_F(Policy, TheWaitsOfACommandSeeTheLeaveAndTheReturnReadWithIt)
{
    sim::VirtualUnit unit = bench.FirstUnit();
    ASSERT_TRUE(session.FindDevice());
    // Both came before the first wait looked: the return, read with the leave, is the arrival's.
    unit.Unplug();
    unit.Plug();
    EXPECT_TRUE(policy.AwaitLeave(*monitor, unit.Path(), 1h));  // the events wait already
    EXPECT_EQ(policy.AwaitArrival(*monitor, 0ms), unit.Path());

    // A controller that went before the wait began has left; nothing arriving is nothing.
    unit.Unplug();
    monitor->ReadEvents();
    EXPECT_TRUE(policy.AwaitLeave(*monitor, unit.Path(), 0ms));
    EXPECT_EQ(policy.AwaitArrival(*monitor, 0ms), "");

    // A stop ends a wait at once.
    unit.Plug();
    StopRequest stop;
    stop.Request();
    EXPECT_FALSE(policy.AwaitLeave(*monitor, unit.Path(), 1h, &stop));
}

TEST_F(Policy, ABenchTakesEachUnitOnceUntilItIsPulledOut)
{
    sim::VirtualUnit first = bench.FirstUnit();
    sim::VirtualUnit second = bench.Attach();
    auto paths = [](const std::vector<HidDeviceInfo>& units) {
        std::vector<std::string> p;
        for (const HidDeviceInfo& u : units) {
            p.push_back(u.path);
        }
        return p;
    };
    auto none = [](const HidDeviceInfo&) { return false; };
    EXPECT_EQ(paths(policy.NewUnits(none)), (std::vector{first.Path(), second.Path()}));
    // One at work is not new; one done with is not new while it stays.
    EXPECT_EQ(paths(policy.NewUnits([&](const HidDeviceInfo& u) { return u.path == first.Path(); })),
              std::vector{second.Path()});
    policy.Handled(first.Path());
    EXPECT_EQ(paths(policy.NewUnits(none)), std::vector{second.Path()});

    // Pulled out and plugged in again, it is a new unit, and settles again.
    policy.Settled(first.Path());
    first.Unplug();
    EXPECT_EQ(paths(policy.NewUnits(none)), std::vector{second.Path()});
    first.Plug();
    EXPECT_EQ(paths(policy.NewUnits(none)), (std::vector{first.Path(), second.Path()}));
    EXPECT_FALSE(policy.IsSettled(first.Path()));

    // A pull-out heard before the listing drops it (the next unit may take its node at once): new all the same.
    policy.Handled(second.Path());
    policy.Settled(second.Path());
    policy.Removed(second.Path());
    EXPECT_EQ(paths(policy.NewUnits(none)), (std::vector{first.Path(), second.Path()}));
    EXPECT_FALSE(policy.IsSettled(second.Path()));
}

}  // namespace

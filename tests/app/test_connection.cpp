// The connected and disconnected views at start and as the controller comes and goes.
#include "tests/app/dialog_fixture.h"

#include <algorithm>

namespace {

using Connection = DialogFixture;

TEST_F(Connection, StartWithoutTheController)
{
    controller.FirstUnit().Unplug();
    Start();
    EXPECT_TRUE(DisconnectedView());
    EXPECT_EQ(Label(1009)->text(), "Please connect your device now");
    EXPECT_TRUE(Shown(1008));
    EXPECT_TRUE(Shown(1));
}

TEST_F(Connection, StartWithTheController)
{
    Start();
    EXPECT_TRUE(ConnectedView());
    EXPECT_EQ(dlg->TabCtrl()->currentIndex(), 0);
    EXPECT_TRUE(Shown(2000));
    EXPECT_TRUE(Shown(2005));
    EXPECT_FALSE(Shown(2008));
    EXPECT_TRUE(dlg->IsRegisteredForNotifications());
    // The probe reads the status report, then tab 0 is read: nothing is written.
    const auto wire = Wire();
    ASSERT_EQ(wire.size(), 3u);
    EXPECT_TRUE(StartsWith(wire[0], "GET 01"));
    EXPECT_TRUE(StartsWith(wire[1], "GET 04"));
    EXPECT_TRUE(StartsWith(wire[2], "GET 05"));
}

TEST_F(Connection, AControllerThatDoesNotAnswerCountsAsAbsent)
{
    controller.FirstUnit().FailNthTransfer(1);
    Start();
    EXPECT_TRUE(DisconnectedView());
}

TEST_F(Connection, PullOutThenPlugInSelectsAndReadsTheMaintenanceTab)
{
    Start();
    UserSelectsTab(3);
    controller.FirstUnit().Unplug();
    ASSERT_TRUE(WaitFor([&] { return dlg->ConnectionState() == dlg::kDisconnected; }));
    EXPECT_TRUE(DisconnectedView());

    controller.FirstUnit().SetFirmware(0x20, 0x10);
    MarkWire();
    controller.FirstUnit().Plug();
    ASSERT_TRUE(WaitFor([&] { return dlg->ConnectionState() == dlg::kConnected; }));
    EXPECT_TRUE(ConnectedView());
    EXPECT_EQ(dlg->TabCtrl()->currentIndex(), 0);
    EXPECT_EQ(dlg->TabCtrl()->CurrentTab(), 0);
    EXPECT_EQ(Edit(2000)->text(), "  Version 2.01.0");
    EXPECT_FALSE(Shown(2019));
    EXPECT_EQ(Label(1001)->text(), "Firmware Detected");
    EXPECT_EQ(Label(1009)->text(), "Please connect your device now");
    // No status read on arrival: only the two reports of the refresh.
    const auto wire = Wire();
    ASSERT_EQ(wire.size(), 2u);
    EXPECT_TRUE(StartsWith(wire[0], "GET 04"));
}

TEST_F(Connection, AnUnrelatedArrivalRefreshesTheConnectedViewOnTheFirstTab)
{
    Start();
    UserSelectsTab(5);
    dlg->OnDeviceChange(DBT_DEVICEARRIVAL, "/dev/hidraw9");
    EXPECT_TRUE(ConnectedView());
    EXPECT_EQ(dlg->TabCtrl()->currentIndex(), 0);
    EXPECT_FALSE(Shown(2034));
}

TEST_F(Connection, AnUnrelatedRemovalChangesNothingOnScreen)
{
    Start();
    UserSelectsTab(2);
    auto before = link.DeviceHandle();
    dlg->OnDeviceChange(DBT_DEVICEREMOVECOMPLETE, "/dev/hidraw9");
    EXPECT_TRUE(ConnectedView());
    EXPECT_EQ(dlg->TabCtrl()->currentIndex(), 2);
    EXPECT_TRUE(link.HasDevice());
    EXPECT_NE(link.DeviceHandle(), before);  // a fresh handle to the same controller
    EXPECT_TRUE(link.GetShortReport(1));
}

TEST_F(Connection, AnUnrelatedArrivalWithoutTheControllerChangesNothing)
{
    controller.FirstUnit().Unplug();
    Start();
    dlg->OnDeviceChange(DBT_DEVICEARRIVAL, "/dev/hidraw9");
    EXPECT_TRUE(DisconnectedView());
}

TEST_F(Connection, NotificationsWithoutAUsablePathAreIgnored)
{
    Start();
    controller.FirstUnit().Unplug();  // not yet handled: the view is still the connected one
    for (const char* path : {static_cast<const char*>(nullptr), "", "abcd", "/dev"}) {
        dlg->OnDeviceChange(DBT_DEVICEREMOVECOMPLETE, path);
        dlg->OnDeviceChange(DBT_DEVNODES_CHANGED, path);
    }
    // FindDevice never ran, or the handle would be gone and the view disconnected.
    EXPECT_TRUE(ConnectedView());
    EXPECT_TRUE(link.HasDevice());
    dlg->OnDeviceChange(DBT_DEVICEREMOVECOMPLETE, "abcde");
    EXPECT_TRUE(DisconnectedView());
}

TEST_F(Connection, OtherEventCodesOnlyReplaceTheHandle)
{
    Start();
    controller.FirstUnit().Unplug();
    dlg->OnDeviceChange(0x8001, "/dev/hidraw1");
    EXPECT_TRUE(ConnectedView());
    EXPECT_FALSE(link.HasDevice());
}

TEST_F(Connection, ArrivalAfterAnInstallRestoresTheDefaultsOnce)
{
    Start();
    link.SendNumericParameter(2, 1, 9);
    dlg->SetUpdatePending(true);
    controller.FirstUnit().Unplug();
    ASSERT_TRUE(WaitFor([&] { return dlg->ConnectionState() == dlg::kDisconnected; }));
    MarkWire();
    controller.FirstUnit().Plug();
    ASSERT_TRUE(WaitFor([&] { return dlg->ConnectionState() == dlg::kConnected; }));
    const auto wire = Wire();
    ASSERT_EQ(wire.size(), 3u);
    EXPECT_TRUE(StartsWith(wire[0], "GET 04"));  // the Maintenance tab is read first
    EXPECT_TRUE(StartsWith(wire[1], "GET 05"));
    EXPECT_TRUE(StartsWith(wire[2], Command({3, 2, 0x35, 0x35})));
    EXPECT_FALSE(dlg->UpdatePending());
    EXPECT_EQ(controller.FirstUnit().ChoiceValue({2, 1}), 5);

    controller.FirstUnit().Unplug();
    ASSERT_TRUE(WaitFor([&] { return dlg->ConnectionState() == dlg::kDisconnected; }));
    controller.FirstUnit().Plug();
    ASSERT_TRUE(WaitFor([&] { return dlg->ConnectionState() == dlg::kConnected; }));
    EXPECT_EQ(RestoreCommands(), 1);
}

TEST_F(Connection, AFailedRestoreIsNotRepeatedAndFailedReadsStillConnect)
{
    Start();
    dlg->SetUpdatePending(true);
    controller.FirstUnit().Unplug();
    ASSERT_TRUE(WaitFor([&] { return dlg->ConnectionState() == dlg::kDisconnected; }));
    controller.FirstUnit().Plug();
    controller.FirstUnit().FailFromNthTransfer(1);
    ASSERT_TRUE(WaitFor([&] { return dlg->ConnectionState() == dlg::kConnected; }));
    EXPECT_EQ(Label(1007)->text(), "Device Connected");
    EXPECT_FALSE(dlg->UpdatePending());
    controller.FirstUnit().ClearFaults();
    dlg->OnDeviceChange(DBT_DEVICEARRIVAL, "/dev/hidraw9");
    EXPECT_EQ(RestoreCommands(), 1);  // the failed attempt only
}

}  // namespace

namespace {

int Reads(const std::vector<std::string>& wire)
{
    return static_cast<int>(
        std::count_if(wire.begin(), wire.end(), [](const std::string& l) { return StartsWith(l, "GET 04"); }));
}

TEST_F(Connection, ArrivalsQueuedBehindOneSettleWaitGiveOneWaitAndOneView)
{
    DialogHooks hooks = Hooks();
    int waits = 0;
    hooks.settleWait = [&](std::chrono::milliseconds) {
        if (++waits == 1) {
            for (int i = 0; i < 9; ++i) {  // a bouncing connector, while the dialog waits
                controller.FirstUnit().Unplug();
                controller.FirstUnit().Plug();
            }
        }
    };
    Start(std::move(hooks));
    controller.FirstUnit().Unplug();
    ASSERT_TRUE(WaitFor([&] { return DisconnectedView(); }));
    MarkWire();
    controller.FirstUnit().Plug();
    ASSERT_TRUE(WaitFor([&] { return ConnectedView(); }));
    Settle();
    EXPECT_EQ(waits, 1);
    EXPECT_EQ(Reads(Wire()), 1);
}

TEST_F(Connection, TenCyclesQueuedBeforeTheDialogLooksCostOneWait)
{
    DialogHooks hooks = Hooks();
    int waits = 0;
    hooks.settleWait = [&](std::chrono::milliseconds) { ++waits; };
    Start(std::move(hooks));
    MarkWire();
    for (int i = 0; i < 10; ++i) {
        controller.FirstUnit().Unplug();
        controller.FirstUnit().Plug();
    }
    ASSERT_TRUE(WaitFor([&] { return waits > 0; }));
    Settle();
    EXPECT_TRUE(ConnectedView());
    EXPECT_EQ(waits, 1);
    EXPECT_EQ(Reads(Wire()), 1);

    // Ending pulled out, the queue's last word is the disconnected view.
    for (int i = 0; i < 5; ++i) {
        controller.FirstUnit().Plug();
        controller.FirstUnit().Unplug();
    }
    ASSERT_TRUE(WaitFor([&] { return DisconnectedView(); }));
}

}  // namespace

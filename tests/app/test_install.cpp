// "Install FW" as the user meets it, over the virtual controller: confirmation, the locked window, progress,
// the outcome, the defaults restored on the controller's return, and closing the window mid-install.
#include "portable/system.h"
#include "tests/app/dialog_fixture.h"

#include <gmock/gmock.h>

#include <QMessageBox>
#include <QProgressBar>
#include <QTimer>

#include <system_error>

namespace {

struct Install : DialogFixture {
    std::FILE* devnull = std::fopen(portable::kWindows ? "NUL" : "/dev/null", "w");
    bool answer = true;
    std::vector<std::string> seen;         // the boxes, in the order the user saw them
    std::vector<std::string> seenDetails;  // the line below each application message
    QString question;
    QString questionCaption;
    QString questionDetail;  // the line below the question, if any
    std::function<void()> whileErrorBoxOpen;
    std::vector<int> positions;

    Install() { controller.FirstUnit().SetRebootTimes(std::chrono::milliseconds(300), std::chrono::milliseconds(100)); }
    ~Install() override
    {
        dlg.reset();
        std::fclose(devnull);
    }

    DialogHooks InstallHooks()
    {
        DialogHooks hooks = Hooks();
        hooks.confirm = [this](QWidget*, const QString& text, const QString& caption, const QString& detail) {
            question = text;
            questionCaption = caption;
            questionDetail = detail;
            return answer;
        };
        hooks.applicationMessage = [this](QWidget*, const QString& text, const QString& detail) {
            seen.push_back(text.toStdString());
            seenDetails.push_back(detail.toStdString());
        };
        hooks.firmwareError = [this](const QString& text) {
            seen.push_back("Error: " + text.toStdString());
            if (whileErrorBoxOpen) {
                whileErrorBoxOpen();
            }
        };
        hooks.firmwareTrace = devnull;
        return hooks;
    }

    void StartInstallable(DialogHooks hooks)
    {
        Start(std::move(hooks));
        dlg->show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
        QObject::connect(Item<QProgressBar>(2007), &QProgressBar::valueChanged,
                         [this](int v) { positions.push_back(v); });
        MarkWire();
    }
    void StartInstallable() { StartInstallable(InstallHooks()); }

    void ClickInstall() { QTest::mouseClick(Item<QPushButton>(2005), Qt::LeftButton); }
    bool WaitForOutcome()
    {
        return WaitFor([&] { return !dlg->InstallRunning(); });
    }

    bool Locked()
    {
        bool allDisabled = true;
        for (const QPointer<QWidget>& c : dlg->Registry()) {
            allDisabled = allDisabled && (!c || !c->isEnabled());
        }
        EXPECT_TRUE(allDisabled);
        EXPECT_FALSE(dlg->TabCtrl()->isEnabled());
        EXPECT_FALSE(Item<QPushButton>(1)->isEnabled());
        EXPECT_TRUE(Shown(2007));
        EXPECT_FALSE(Shown(2005));
        return allDisabled && !dlg->TabCtrl()->isEnabled() && !Item<QPushButton>(1)->isEnabled() && Shown(2007) &&
               !Shown(2005);
    }
    bool Unlocked()
    {
        bool allEnabled = true;
        for (const QPointer<QWidget>& c : dlg->Registry()) {
            if (c && !c->isEnabled()) {
                ADD_FAILURE() << "disabled: " << c->property("controlId").toInt();
                allEnabled = false;
            }
        }
        return allEnabled && dlg->TabCtrl()->isEnabled() && Item<QPushButton>(1)->isEnabled() && !Shown(2007);
    }
};

TEST_F(Install, CancelChangesNothing)
{
    answer = false;
    StartInstallable();
    MarkWire();
    ClickInstall();
    EXPECT_EQ(question,
              "Installing this firmware will reset all settings to default.  Are you sure you want to continue?");
    EXPECT_EQ(questionCaption, "Tavrel 7410 Doorphone Configuration Tool");
    EXPECT_FALSE(dlg->UpdatePending());
    EXPECT_FALSE(dlg->InstallRunning());
    EXPECT_TRUE(Shown(2005));
    EXPECT_TRUE(Unlocked());
    EXPECT_TRUE(Wire().empty());
}

TEST_F(Install, ACompletedInstall)
{
    // Time enough between the outcome and the controller leaving to see the state between them.
    controller.FirstUnit().SetRebootTimes(std::chrono::milliseconds(1500), std::chrono::milliseconds(100));
    StartInstallable();
    controller.FirstUnit().SetLatency(std::chrono::microseconds(50));
    ClickInstall();
    EXPECT_TRUE(dlg->UpdatePending());
    EXPECT_TRUE(Locked());
    ASSERT_TRUE(WaitForOutcome());

    // Unlocked at once; the completion text waits in the hidden status line until the controller leaves.
    EXPECT_TRUE(Unlocked());
    EXPECT_FALSE(Shown(2005));
    EXPECT_EQ(Label(1009)->text(), "Programming Complete. Device will now Disconnect and Reboot");
    EXPECT_FALSE(Shown(1009));
    EXPECT_TRUE(dlg->TabCtrl()->isAncestorOf(QApplication::focusWidget()))
        << (QApplication::focusWidget() ? QApplication::focusWidget()->metaObject()->className() : "no focus");
    EXPECT_TRUE(seen.empty());
    ASSERT_FALSE(positions.empty());
    EXPECT_EQ(positions.front(), 0);
    EXPECT_EQ(positions.back(), 99);
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    EXPECT_LE(positions.size(), 100u);
    EXPECT_EQ(controller.FirstUnit().ProgrammingCount(), 1);

    ASSERT_TRUE(WaitFor([&] { return dlg->ConnectionState() == dlg::kDisconnected; }));
    EXPECT_TRUE(Shown(1009));
    EXPECT_EQ(Label(1009)->text(), "Programming Complete. Device will now Disconnect and Reboot");
    MarkWire();
    ASSERT_TRUE(WaitFor([&] { return dlg->ConnectionState() == dlg::kConnected; }));
    EXPECT_EQ(RestoreCommands(), 1);
    EXPECT_FALSE(dlg->UpdatePending());
    EXPECT_EQ(Edit(2000)->text(), "  Version 2.01.0");
    EXPECT_TRUE(Shown(2005));
    EXPECT_FALSE(Shown(1009));
}

TEST_F(Install, AControllerSwappedInDuringTheRestartIsShownButNotRestored)
{
    StartInstallable();
    ClickInstall();
    ASSERT_TRUE(WaitForOutcome());
    ASSERT_TRUE(seen.empty());
    MarkWire();
    // The programmed controller, restarting, is taken away; another is plugged in.
    controller.PlugNext(controller.FirstUnit().Path(), FirmwareVersion{1, 5, 2});
    ASSERT_TRUE(WaitFor([&] { return dlg->ConnectionState() == dlg::kConnected && !seen.empty(); }));
    EXPECT_EQ(RestoreCommands(), 0);
    EXPECT_TRUE(dlg->UpdatePending()) << "still owed to the programmed controller";
    EXPECT_THAT(seen[0], ::testing::HasSubstr("This controller is not the one whose firmware was just installed: it "
                                              "is plugged in at another USB port"));
    EXPECT_EQ(Edit(2000)->text(), "  Version 1.05.2");
}

TEST_F(Install, AnEditBeingLeftForTheButtonIsWrittenFirstAndNothingElseIsWrittenByTheLock)
{
    answer = false;
    StartInstallable();
    Edit(2004)->setFocus(Qt::TabFocusReason);
    Edit(2004)->setText("77");
    MarkWire();
    ClickInstall();
    Settle();
    ASSERT_EQ(Sets().size(), 1u);  // the password, before the question
    EXPECT_EQ(controller.FirstUnit().Text({0, 5}), "77");

    answer = true;
    Edit(2004)->setFocus(Qt::TabFocusReason);
    Item<QPushButton>(2005)->setFocus(Qt::OtherFocusReason);  // the password goes now
    Settle();
    MarkWire();
    ClickInstall();
    ASSERT_TRUE(WaitForOutcome());
    for (const std::string& s : Sets()) {
        EXPECT_FALSE(StartsWith(s, "SET 03")) << s;  // locking the window wrote no setting
    }
}

TEST_F(Install, TheInstallButtonComesBackWhenTheMaintenanceTabIsShownAgain)
{
    controller.FirstUnit().SetRebootTimes(std::chrono::seconds(30), std::chrono::seconds(30));
    StartInstallable();
    ClickInstall();
    ASSERT_TRUE(WaitForOutcome());
    EXPECT_FALSE(Shown(2005));
    UserSelectsTab(1);
    UserSelectsTab(0);
    EXPECT_TRUE(Shown(2005));
    EXPECT_TRUE(dlg->UpdatePending());  // restored on the next arrival, whenever it comes
}

struct FailedInstall : Install {
    void ExpectFailedView()
    {
        ASSERT_TRUE(WaitForOutcome());
        ASSERT_EQ(seen.size(), 2u);
        EXPECT_TRUE(StartsWith(seen[0], "Error: "));
        EXPECT_EQ(seen[1], "Thread has exited abnormally");
        EXPECT_EQ(Label(1009)->text(), "Programming FAILED!");
        EXPECT_TRUE(Shown(1009));
        EXPECT_EQ(Label(1007)->text(), "Device Disconnected");
        EXPECT_TRUE(dlg->TabCtrl()->isHidden());
        EXPECT_EQ(dlg->ConnectionState(), dlg::kDisconnected);
        EXPECT_TRUE(dlg->UpdatePending());
        EXPECT_TRUE(dlg->TabCtrl()->isEnabled());
        EXPECT_TRUE(Item<QPushButton>(1)->isEnabled());
        EXPECT_FALSE(Shown(2007));
    }
};

TEST_F(FailedInstall, AtTheFirstChunk)
{
    StartInstallable();
    bool lockedWhileBoxOpen = false;
    whileErrorBoxOpen = [&] { lockedWhileBoxOpen = Locked(); };
    controller.FirstUnit().FailNthTransfer(4);  // the read before programming, the boot report, then the first chunk
    ClickInstall();
    ExpectFailedView();
    EXPECT_EQ(seen[0], "Error: Input/output error");
    EXPECT_TRUE(lockedWhileBoxOpen);

    // The controller is still there: its next arrival restores the defaults.
    MarkWire();
    dlg->OnDeviceChange(DBT_DEVICEARRIVAL, "/dev/hidraw5");
    EXPECT_EQ(RestoreCommands(), 1);
    EXPECT_FALSE(dlg->UpdatePending());
}

TEST_F(FailedInstall, InTheMiddle)
{
    StartInstallable();
    controller.FirstUnit().FailNthTransfer(2000);
    ClickInstall();
    ExpectFailedView();
    EXPECT_GT(positions.back(), 10);
    EXPECT_LT(positions.back(), 99);
}

TEST_F(FailedInstall, ByTheControllerBeingPulledOut)
{
    StartInstallable();
    controller.FirstUnit().SetLatency(std::chrono::microseconds(50));
    controller.FirstUnit().PullOutAfterNthTransfer(1500);
    bool barHiddenBehindTheBox = false;
    whileErrorBoxOpen = [&] {
        // The removal arrives while the box is up: the disconnected view leaves no bar over its prompt.
        WaitFor([&] { return dlg->ConnectionState() == dlg::kDisconnected; });
        barHiddenBehindTheBox = !Shown(2007) && Shown(1009);
    };
    ClickInstall();
    ExpectFailedView();
    EXPECT_TRUE(barHiddenBehindTheBox);
    MarkWire();
    controller.FirstUnit().Plug();
    ASSERT_TRUE(WaitFor([&] { return dlg->ConnectionState() == dlg::kConnected; }));
    EXPECT_EQ(RestoreCommands(), 1);
    EXPECT_EQ(controller.FirstUnit().ProgrammingCount(), 0);
}

TEST_F(FailedInstall, AnImageThatCannotBeSentFailsWithoutAnErrorBox)
{
    DialogHooks hooks = InstallHooks();
    static const std::string tooLong = std::string(80, '1') + "\r\n";
    hooks.firmwareImage = [] {
        return std::optional(
            std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(tooLong.data()), tooLong.size()));
    };
    StartInstallable(hooks);
    ClickInstall();
    ASSERT_TRUE(WaitForOutcome());
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], "Thread has exited abnormally");
    EXPECT_EQ(Label(1009)->text(), "Programming FAILED!");
}

TEST_F(FailedInstall, AWorkerThatCannotStartEndsAsAFailedInstall)
{
    DialogHooks hooks = InstallHooks();
    hooks.startThread = [](std::function<void()>) -> std::thread {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    };
    StartInstallable(hooks);
    ClickInstall();
    EXPECT_FALSE(dlg->InstallRunning());
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], "Thread has exited abnormally");
    EXPECT_TRUE(dlg->TabCtrl()->isEnabled());
    EXPECT_TRUE(Item<QPushButton>(1)->isEnabled());
    EXPECT_EQ(dlg->ConnectionState(), dlg::kDisconnected);
}

TEST_F(Install, AnArrivalDuringTheStreamRestoresAtOnceAndHidesTheBar)
{
    StartInstallable();
    controller.FirstUnit().HoldNthTransfer(300);  // a tenth into the stream
    ClickInstall();
    ASSERT_TRUE(WaitFor([&] { return controller.FirstUnit().IsHoldingATransfer(); }));
    dlg->OnDeviceChange(DBT_DEVICEARRIVAL, "/dev/hidraw5");
    controller.FirstUnit().ReleaseHeldTransfer();
    EXPECT_FALSE(dlg->UpdatePending());
    EXPECT_EQ(RestoreCommands(), 1);
    EXPECT_FALSE(Shown(2007));  // the refresh hid the bar for the rest of the stream
    EXPECT_TRUE(seen.empty());
    EXPECT_FALSE(dlg->TabCtrl()->isEnabled());
    ASSERT_TRUE(WaitForOutcome());
    EXPECT_EQ(controller.FirstUnit().ProgrammingCount(), 1);
    ASSERT_TRUE(WaitFor([&] { return dlg->ConnectionState() == dlg::kDisconnected; }));
    ASSERT_TRUE(WaitFor([&] { return dlg->ConnectionState() == dlg::kConnected; }));
    EXPECT_EQ(RestoreCommands(), 1);  // none after the reboot
}

TEST_F(Install, ClosingTheWindowDuringTheStreamStopsItCleanly)
{
    StartInstallable();
    controller.FirstUnit().HoldNthTransfer(130);
    ClickInstall();
    ASSERT_TRUE(WaitFor([&] { return controller.FirstUnit().IsHoldingATransfer(); }));
    dlg->close();
    ASSERT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), QDialog::Rejected);
    const int atClose = controller.FirstUnit().TransferCount();
    controller.FirstUnit().ReleaseHeldTransfer();
    dlg.reset();  // joins the worker: it stops before its next transfer
    EXPECT_LE(controller.FirstUnit().TransferCount(), atClose + 1);
    EXPECT_TRUE(seen.empty());
    Settle();
}

TEST_F(Install, ClosingTheWindowWhileTheErrorBoxIsOpen)
{
    StartInstallable();
    whileErrorBoxOpen = [&] { dlg->close(); };
    controller.FirstUnit().FailNthTransfer(50);
    ClickInstall();
    ASSERT_TRUE(WaitFor([&] { return !dlg->isVisible(); }));
    Settle();
    EXPECT_EQ(dlg->result(), QDialog::Rejected);
    dlg.reset();
    ASSERT_EQ(seen.size(), 1u);  // the "Error" box, and nothing after it
}

// The real box: owned by no window, it leaves the locked dialog's own close command usable.
TEST_F(Install, ClosingTheWindowWhileTheRealErrorBoxIsOpen)
{
    DialogHooks hooks = InstallHooks();
    hooks.firmwareError = nullptr;
    StartInstallable(hooks);
    QPointer<QMessageBox> box;
    QTimer watcher;
    watcher.setInterval(5);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* b = qobject_cast<QMessageBox*>(w);
            if (b && b->isVisible() && !box) {
                box = b;
                EXPECT_EQ(b->windowTitle(), "Error");
                EXPECT_EQ(b->icon(), QMessageBox::Information);
                EXPECT_EQ(b->parentWidget(), nullptr);
                EXPECT_EQ(QApplication::activeModalWidget(), nullptr);  // the dialog is not blocked
                EXPECT_TRUE(Locked());
                dlg->close();
            }
        }
    });
    watcher.start();
    controller.FirstUnit().FailNthTransfer(50);
    ClickInstall();
    ASSERT_TRUE(WaitFor([&] { return !dlg->isVisible(); }));
    ASSERT_TRUE(WaitFor([&] { return box.isNull(); }));  // closed with the window
    EXPECT_EQ(dlg->result(), QDialog::Rejected);
    dlg.reset();
    EXPECT_TRUE(seen.empty());  // no "Thread has exited abnormally" for a window that is gone
}

TEST_F(Install, TheRealErrorBoxOnceDismissedLeadsToTheFailedView)
{
    DialogHooks hooks = InstallHooks();
    hooks.firmwareError = nullptr;
    StartInstallable(hooks);
    QString text;
    QTimer watcher;
    watcher.setInterval(5);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* b = qobject_cast<QMessageBox*>(w); b && b->isVisible() && text.isEmpty()) {
                text = b->text();
                b->accept();
            }
        }
    });
    watcher.start();
    controller.FirstUnit().FailNthTransfer(50);
    ClickInstall();
    ASSERT_TRUE(WaitForOutcome());
    EXPECT_EQ(text, "Input/output error");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], "Thread has exited abnormally");
    EXPECT_EQ(Label(1009)->text(), "Programming FAILED!");
}

TEST_F(Install, ProgressPositions)
{
    StartInstallable();
    dlg->OnUpdateProgress(0, 197808);
    EXPECT_EQ(Item<QProgressBar>(2007)->value(), 0);
    dlg->OnUpdateProgress(197806, 197808);
    EXPECT_EQ(Item<QProgressBar>(2007)->value(), 99);
    dlg->OnUpdateProgress(4000000000u, 4100000000u);  // no overflow in consumed x 100
    EXPECT_EQ(Item<QProgressBar>(2007)->value(), 97);
}

}  // namespace

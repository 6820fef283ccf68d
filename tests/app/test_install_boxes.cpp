// A failed install as the technician meets it, with the real message boxes answered by real clicks and
// keys, on the window run exactly as the tool runs it (DoModal). Built twice: over the virtual controller,
// and over the real hidapi/udev backend inside the kernel-level emulation of the controller.
#include "portable/system.h"
#include "tests/app/box_answerer.h"
#include "tests/app/dialog_fixture.h"

#include "sim/controller_commands.h"

#ifdef DPC_REAL_BACKEND
#include "device/hidapi_platform.h"
#include "device/udev_monitor.h"
#include <fcntl.h>
#define INSTALL_BOXES RealBackendInstallBoxes
#else
#define INSTALL_BOXES InstallBoxes
#endif

#include <QAbstractButton>
#include <QMessageBox>
#include <QProgressBar>
#include <QTimer>

#include <gmock/gmock.h>

namespace {

using ::testing::HasSubstr;

#ifdef DPC_REAL_BACKEND
struct BackendHolder {
    HidapiPlatform platform;
    static std::unique_ptr<HotplugMonitor> Monitor() { return UdevHotplugMonitor::Create(); }
    static void Bench(const std::string& command) { CommandToEmulatedBench(command); }
};
#else
struct BackendHolder {
    sim::VirtualController platform;
    std::unique_ptr<HotplugMonitor> Monitor() { return platform.CreateMonitor(); }
    sim::ControllerCommands commands{platform};
    void Bench(const std::string& command) { ASSERT_EQ(commands.Apply(command), std::nullopt); }
};
#endif

class INSTALL_BOXES : protected BackendHolder, public DialogFixtureBase {
protected:
    std::FILE* devnull = std::fopen(portable::kWindows ? "NUL" : "/dev/null", "w");

    INSTALL_BOXES() : DialogFixtureBase(platform) {}
    ~INSTALL_BOXES() override
    {
        dlg.reset();
        std::fclose(devnull);
    }

    void SetUp() override
    {
#ifdef DPC_REAL_BACKEND
        if (std::getenv("EMULATE_CONTROLLER_CONTROL") == nullptr) {
            GTEST_SKIP() << "runs inside emulate-controller only";
        }
#endif
    }

    // The window as the tool runs it, with no hook standing in for a box: `user` acts while it runs, and
    // the window's own Close button, clicked by `user`, ends it.
    void RunWindow(const std::function<void()>& user)
    {
        DialogHooks hooks;
        hooks.firmwareTrace = devnull;
        StartWith([this] { return Monitor(); }, std::move(hooks));
        QTimer::singleShot(0, dlg.get(), [&] {
            user();
            if (dlg->isVisible()) {
                ADD_FAILURE() << "the window is still open";
                dlg->done(QDialog::Rejected);
            }
        });
        EXPECT_EQ(dlg->DoModal(), QDialog::Accepted);
    }

    // After a failed install: the window unlocked in the disconnected view, nothing left open.
    void ExpectFailedInstall()
    {
        EXPECT_FALSE(dlg->InstallRunning());
        EXPECT_TRUE(DisconnectedView());
        EXPECT_EQ(Label(1009)->text(), "Programming FAILED!");
        EXPECT_TRUE(dlg->TabCtrl()->isEnabled());
        EXPECT_TRUE(Item<QPushButton>(dlg::IDOK)->isEnabled());
        EXPECT_TRUE(OpenBoxes().empty());
        EXPECT_TRUE(dlg->UpdatePending());
    }

    // The controller is plugged in again: the connected view, and the restore the install owes, once.
    void ExpectOneRestoreOnReturn()
    {
        MarkWire();
        Bench("plug");
        ASSERT_TRUE(WaitFor([&] { return ConnectedView(); }));
        Settle();
        EXPECT_EQ(RestoreCommands(), 1);
        EXPECT_FALSE(dlg->UpdatePending());
    }

    // The install's outcome handled, its three boxes answered by the user.
    bool OutcomeHandled(BoxAnswerer& boxes)
    {
        const bool handled =
            WaitFor([&] { return !dlg->InstallRunning() && boxes.seen.size() >= 3 && OpenBoxes().empty(); });
        EXPECT_THAT(boxes.seen, ::testing::Each(::testing::Not(HasSubstr("took no input"))));
        return handled;
    }
};

constexpr const char* kQuestion =
    "Tavrel 7410 Doorphone Configuration Tool: Installing this firmware will reset all settings to default.  Are "
    "you sure you want to continue?";

TEST_F(INSTALL_BOXES, AChunkRefusedWithEachKernelErrorEndsInTheFailedInstall)
{
    const std::pair<const char*, const char*> kinds[] = {
        {"eio", "Input/output error"}, {"epipe", "Broken pipe"}, {"etimedout", "Connection timed out"}};
    for (const auto& [kind, text] : kinds) {
        SCOPED_TRACE(kind);
        BoxAnswerer boxes;
        RunWindow([&] {
            ASSERT_TRUE(ConnectedView());
            Bench(std::string("fail 40 ") + kind);
            ClickAsUser(Item<QPushButton>(2005));
            ASSERT_TRUE(OutcomeHandled(boxes)) << ::testing::PrintToString(boxes.seen);
            ASSERT_EQ(boxes.seen.size(), 3u);
            EXPECT_EQ(boxes.seen[0], kQuestion);
            EXPECT_THAT(boxes.seen[1], HasSubstr(std::string("Error: ")));
            EXPECT_THAT(boxes.seen[1], HasSubstr(text));
            EXPECT_THAT(boxes.seen[2], HasSubstr(": Thread has exited abnormally"));
            EXPECT_THAT(boxes.details[2], HasSubstr("may still wait in download mode"));
            EXPECT_THAT(boxes.details[2], HasSubstr("pull it out and plug it in again, then click Install FW again"));
            ExpectFailedInstall();

            Bench("unplug");
            ASSERT_TRUE(WaitFor([&] { return link.DeviceHandle() == nullptr; }));
            ExpectOneRestoreOnReturn();
            ClickAsUser(Item<QPushButton>(dlg::IDOK));
        });
        dlg.reset();
    }
}

TEST_F(INSTALL_BOXES, APullOutMidInstallEndsInTheFailedInstall)
{
    BoxAnswerer boxes;
    RunWindow([&] {
        // Pulled out at a chunk of its own: on a busy machine the bar can trail the stream to its very end.
        Bench("fail 40 pullout");
        ClickAsUser(Item<QPushButton>(2005));
        ASSERT_TRUE(OutcomeHandled(boxes)) << ::testing::PrintToString(boxes.seen);
        ASSERT_EQ(boxes.seen.size(), 3u);
        EXPECT_THAT(boxes.seen[1], HasSubstr("No such device"));
        EXPECT_THAT(boxes.seen[2], HasSubstr(": Thread has exited abnormally"));
        EXPECT_THAT(boxes.details[2], HasSubstr("pull it out and plug it in again"));
        ExpectFailedInstall();
        ExpectOneRestoreOnReturn();
        ClickAsUser(Item<QPushButton>(dlg::IDOK));
    });
}

TEST_F(INSTALL_BOXES, OkAfterTheControllerLeftDuringTheConfirmation)
{
    BoxAnswerer boxes;
    RunWindow([&] {
        // The controller leaves while the question is open; the user then answers OK.
        boxes.beforeAnswer = [&](QMessageBox*) {
            if (boxes.seen.size() == 1) {
                Bench("unplug");
                EXPECT_TRUE(WaitFor([&] { return DisconnectedView(); }));
            }
        };
        ClickAsUser(Item<QPushButton>(2005));
        ASSERT_TRUE(OutcomeHandled(boxes)) << ::testing::PrintToString(boxes.seen);
        ASSERT_EQ(boxes.seen.size(), 3u);
        EXPECT_EQ(boxes.seen[0], kQuestion);
        EXPECT_THAT(boxes.seen[1], HasSubstr("Error: "));
        EXPECT_THAT(boxes.seen[2], HasSubstr(": Thread has exited abnormally"));
        ExpectFailedInstall();
        ExpectOneRestoreOnReturn();
        ClickAsUser(Item<QPushButton>(dlg::IDOK));
    });
}

// The title bar's close button, Alt+F4 and the system menu reach the window as the window system's close
// request: it ends the tool whatever an edit holds. An accepted entry is written first; a rejected one is
// not sent, and its message shows once.
TEST_F(INSTALL_BOXES, TheWindowsCloseCommandEndsTheToolWhateverAnEditHolds)
{
    struct Case {
        int tab, id;
        const char* typed;
        const char* box;   // the one box the user answers, if any
        const char* sent;  // the command written before the window goes, if any
    };
    const Case cases[] = {
        {0, 2004, "12345", "Error: Entry too long", nullptr},
        {1, 2012, "12-3", "Error: Invalid: Must be all numeric.", nullptr},
        {0, 2004, "4321", nullptr, "SET 03 08 30 35 30 34 34 33 32 31"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        BoxAnswerer boxes;
        DialogHooks hooks;
        hooks.firmwareTrace = devnull;
        StartWith([this] { return Monitor(); }, std::move(hooks));
        QTimer::singleShot(0, dlg.get(), [&] {
            dlg->TabCtrl()->tabBar()->setCurrentIndex(c.tab);
            TypeAsUser(Edit(c.id), c.typed);
            MarkWire();
            dlg->windowHandle()->close();
            if (dlg->isVisible()) {
                ADD_FAILURE() << "the window is still open";
                dlg->QDialog::done(QDialog::Rejected);
            }
        });
        EXPECT_EQ(dlg->DoModal(), QDialog::Rejected);
        EXPECT_FALSE(dlg->isVisible());
        EXPECT_EQ(boxes.seen, c.box ? std::vector<std::string>{c.box} : std::vector<std::string>{});
        const auto sets = Sets();
        if (c.sent) {
            ASSERT_EQ(sets.size(), 1u);
            EXPECT_TRUE(StartsWith(sets[0], c.sent)) << sets[0];
        } else {
            EXPECT_TRUE(sets.empty()) << sets[0];
        }
        dlg.reset();
    }
}

}  // namespace

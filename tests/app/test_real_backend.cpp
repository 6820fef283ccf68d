// The window on the real backend (hidapi's hidraw backend and the udev monitor) with the controller emulated
// at the kernel's HID interface. This binary runs inside emulate-controller, which it drives through the
// control FIFO named in $EMULATE_CONTROLLER_CONTROL.
#include "tests/app/box_answerer.h"
#include "tests/app/dialog_fixture.h"

#include "device/hidapi_platform.h"
#include "device/udev_monitor.h"

#include <QFile>
#include <QProcess>
#include <QProgressBar>
#include <QTemporaryDir>

#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <unistd.h>

namespace {

struct HidapiHolder {
    HidapiPlatform hidapi;
};

class RealBackend : protected HidapiHolder, public DialogFixtureBase {
protected:
    std::FILE* devnull = std::fopen("/dev/null", "w");
    std::vector<std::string> seen;         // install boxes, as the user saw them
    std::vector<std::string> seenDetails;  // the line below each application message's text
    bool confirmAnswer = true;             // the answer to the install's question
    QString confirmDetail;                 // the line below the last question

    RealBackend() : DialogFixtureBase(hidapi) {}
    ~RealBackend() override
    {
        dlg.reset();
        std::fclose(devnull);
    }

    void SetUp() override
    {
        if (std::getenv("EMULATE_CONTROLLER_CONTROL") == nullptr) {
            GTEST_SKIP() << "runs inside emulate-controller only";
        }
    }

    static void Bench(const std::string& command) { CommandToEmulatedBench(command); }

    void Start(std::chrono::milliseconds settle = std::chrono::milliseconds(0))
    {
        DialogHooks hooks = Hooks();
        hooks.confirm = [this](QWidget*, const QString&, const QString&, const QString& detail) {
            confirmDetail = detail;
            return confirmAnswer;
        };
        hooks.applicationMessage = [this](QWidget*, const QString& text, const QString& detail) {
            seen.push_back(text.toStdString());
            seenDetails.push_back(detail.toStdString());
        };
        hooks.firmwareError = [this](const QString& text) { seen.push_back("Error: " + text.toStdString()); };
        hooks.firmwareTrace = devnull;
        StartWith([] { return std::unique_ptr<HotplugMonitor>(UdevHotplugMonitor::Create()); }, std::move(hooks),
                  settle);
        dlg->show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
    }

    // Everything from the first failed transfer on.
    std::vector<std::string> WireFromFirstFailure()
    {
        std::vector<std::string> wire = Wire();
        auto first = std::find_if(wire.begin(), wire.end(), [](const std::string& l) {
            return l.size() > 4 && l.substr(l.size() - 4) == "fail";
        });
        return {first, wire.end()};
    }
};

TEST_F(RealBackend, StartUpReadsTheControllerThroughItsHidrawNode)
{
    Start();
    EXPECT_TRUE(ConnectedView());
    EXPECT_EQ(link.DevicePath(), "/dev/hidraw0");
    const auto wire = Wire();
    ASSERT_EQ(wire.size(), 3u);
    EXPECT_TRUE(StartsWith(wire[0], "GET 01")) << wire[0];
    EXPECT_TRUE(StartsWith(wire[1], "GET 04")) << wire[1];
    EXPECT_TRUE(StartsWith(wire[2], "GET 05")) << wire[2];
    EXPECT_EQ(Edit(2004)->text(), "1234");  // the DTMF password, from the string pool
}

TEST_F(RealBackend, PullOutAndPlugInFollowTheKernelsEvents)
{
    constexpr auto kSettle = std::chrono::milliseconds(300);
    Start(kSettle);
    UserSelectsTab(2);
    Bench("unplug");
    ASSERT_TRUE(WaitFor([&] { return dlg->ConnectionState() == dlg::kDisconnected; }));
    EXPECT_TRUE(DisconnectedView());
    EXPECT_EQ(Label(1009)->text(), "Please connect your device now");

    MarkWire();
    QElapsedTimer sincePlug;
    sincePlug.start();
    Bench("plug");
    ASSERT_TRUE(WaitFor([&] { return dlg->ConnectionState() == dlg::kConnected; }));
    EXPECT_GE(sincePlug.elapsed(), kSettle.count());  // read only once the controller has settled
    EXPECT_TRUE(ConnectedView());
    EXPECT_EQ(dlg->TabCtrl()->currentIndex(), 0);
    const auto wire = Wire();
    ASSERT_EQ(wire.size(), 2u);
    EXPECT_TRUE(StartsWith(wire[0], "GET 04"));
    EXPECT_TRUE(StartsWith(wire[1], "GET 05"));
}

TEST_F(RealBackend, APullOutMidInstallEndsInTheFailedInstallAndWritesNothingMore)
{
    Start();
    Bench("fail 40 pullout");  // at a chunk of its own: the bar can trail the stream on a busy machine
    MarkWire();
    QTest::mouseClick(Item<QPushButton>(2005), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return !dlg->InstallRunning(); }));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_THAT(seen[0], ::testing::HasSubstr("No such device"));  // ENODEV, in the system's words
    EXPECT_EQ(seen[1], "Thread has exited abnormally");
    EXPECT_EQ(Label(1009)->text(), "Programming FAILED!");
    EXPECT_EQ(Label(1007)->text(), "Device Disconnected");
    EXPECT_TRUE(dlg->UpdatePending());
    Settle();
    const auto afterFailure = WireFromFirstFailure();
    ASSERT_EQ(afterFailure.size(), 1u) << "nothing is sent after the failed chunk";
    EXPECT_TRUE(StartsWith(afterFailure[0], "SET 05 46"));
}

// Through an install, the controller's restart and its return, and through a failed install and its box, the
// keyboard focus goes only to controls on screen that take keys: the bar during the install, the status
// line while no controller is shown, the tab bar once it is back.
TEST_F(RealBackend, NoFocusOnAHiddenOrDisabledControlThroughAnInstall)
{
    Start();
    std::vector<std::string> focused;  // every control that got the focus, and how it was then
    QObject::connect(qApp, &QApplication::focusChanged, dlg.get(), [&](QWidget*, QWidget* now) {
        if (now != nullptr && now->window() == dlg.get()) {
            const bool bar = now == dlg->TabCtrl()->tabBar();  // the tab control's own bar
            focused.push_back((bar ? std::string("id2044") : now->objectName().toStdString()) +
                              (now->isVisibleTo(dlg.get()) && now->isEnabled() ? "" : " (hidden or disabled)"));
        }
    });
    auto onScreen = [&] {
        QWidget* f = dlg->focusWidget();
        return f != nullptr && f->isVisibleTo(dlg.get()) && f->isEnabled();
    };
    Edit(2004)->setFocus(Qt::MouseFocusReason);  // the user was in DTMF Password
    focused.clear();
    QTest::mouseClick(Item<QPushButton>(2005), Qt::LeftButton);
    EXPECT_EQ(dlg->focusWidget(), Item<QProgressBar>(2007));
    ASSERT_TRUE(WaitFor([&] { return !dlg->InstallRunning(); }));
    EXPECT_TRUE(onScreen());
    ASSERT_TRUE(WaitFor([&] { return DisconnectedView(); }));  // the restart
    EXPECT_EQ(dlg->focusWidget(), Label(1009));
    ASSERT_TRUE(WaitFor([&] { return ConnectedView(); }));
    Settle();
    EXPECT_TRUE(onScreen());
    const std::vector<std::string> expected{"id2005", "id2007", "id2044", "id1009", "id2044"};
    // Each step may be seen once or more, never another control.
    for (const std::string& f : focused) {
        EXPECT_THAT(expected, ::testing::Contains(f));
    }

    // A failed install: after its box the focus is on the status line, never on the hidden tab.
    focused.clear();
    Bench("fail 40 pullout");
    QTest::mouseClick(Item<QPushButton>(2005), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return !dlg->InstallRunning(); }));
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), "Thread has exited abnormally");
    EXPECT_EQ(dlg->focusWidget(), Label(1009));
    for (const std::string& f : focused) {
        EXPECT_THAT(expected, ::testing::Contains(f));
    }
    Bench("plug");
    ASSERT_TRUE(WaitFor([&] { return ConnectedView(); }));
}

TEST_F(RealBackend, AStalledChunkShowsTheSystemsText)
{
    Start();
    Bench("fail 40 epipe");
    QTest::mouseClick(Item<QPushButton>(2005), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return !dlg->InstallRunning(); }));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_THAT(seen[0], ::testing::HasSubstr("Broken pipe"));
    EXPECT_EQ(Label(1009)->text(), "Programming FAILED!");
}

// Runs as a user who may not open the node (see the CTest case that starts it).
TEST_F(RealBackend, NotAccessibleNamesThePathAndTheFixThenConnectsOnceAccessIsGranted)
{
    if (access("/dev/hidraw0", R_OK | W_OK) == 0) {
        GTEST_SKIP() << "this user may open the node; the not-accessible case runs in its own CTest case";
    }
    Start();
    EXPECT_TRUE(DisconnectedView());
    EXPECT_EQ(Label(1007)->text(), "Device Not Accessible");  // present, not "Disconnected"
    const std::string text = Label(1009)->text().toStdString();
    EXPECT_THAT(text, ::testing::HasSubstr("/dev/hidraw0"));
    EXPECT_THAT(text, ::testing::HasSubstr(controller::kUdevRulePath));
    EXPECT_THAT(text, ::testing::HasSubstr("udevadm control --reload"));
    EXPECT_LE(Label(1009)->heightForWidth(Label(1009)->width()), Label(1009)->height()) << "the whole advice shows";
    EXPECT_TRUE(Wire().empty());

    // The rule is installed and the controller plugged in again.
    Bench("node-mode 0666");
    Bench("unplug");
    ASSERT_TRUE(WaitFor([&] { return Label(1009)->text() == "Please connect your device now"; }))
        << Label(1009)->text().toStdString();
    EXPECT_EQ(Label(1007)->text(), "Device Disconnected");
    Bench("plug");
    ASSERT_TRUE(WaitFor([&] { return dlg->ConnectionState() == dlg::kConnected; }));
    EXPECT_TRUE(ConnectedView());
}

// Runs the real doorphonectl on this bench to its end: its exit code and standard error.
std::pair<int, std::string> Doorphonectl(const QStringList& arguments)
{
    QProcess process;
    process.start(DPC_DOORPHONECTL, arguments);
    process.waitForFinished(60000);
    return {process.exitCode(), process.readAllStandardError().toStdString()};
}

// This process as the system names it: its program's name, as the kernel keeps it.
std::string ThisProgram()
{
    std::string name;
    std::getline(std::ifstream("/proc/self/comm"), name);
    return name;
}

bool LockFolderEmpty()
{
    const char* folder = std::getenv("DOORPHONECONFIG_LOCK_DIR");
    return folder != nullptr && std::filesystem::is_empty(folder);
}

TEST_F(RealBackend, TheWindowHoldsTheControllerItShowsAgainstAnotherProgramsChange)
{
    Start();
    ASSERT_TRUE(ConnectedView());
    MarkWire();
    const auto [code, err] = Doorphonectl({"set", "door.open-code", "42"});
    EXPECT_EQ(code, 1);
    EXPECT_THAT(err, ::testing::HasSubstr("is in use by " + ThisProgram() + ", process " + std::to_string(getpid()) +
                                          " of user root"));
    // Reading needs no hold.
    EXPECT_EQ(Doorphonectl({"get", "door.open-code"}).first, 0);
    EXPECT_TRUE(Sets().empty());
}

// The holder's name is the system's, but the holder chose it (here, the name its program runs under): the
// window shows it as it is, never as markup.
TEST_F(RealBackend, AControllerAnotherProgramChangesShowsOnceThatProgramIsDone)
{
    QTemporaryDir folder;
    const QString named = folder.filePath("<h1>BIG<br>X");
    ASSERT_TRUE(QFile::link(DPC_DOORPHONECTL, named));
    QProcess flash;
    flash.start(named, {"flash", "--yes"});
    ASSERT_TRUE(WaitFor([&] { return !LockFolderEmpty(); }));  // its record through the restart: it holds
    Start();
    EXPECT_TRUE(DisconnectedView());
    EXPECT_EQ(Label(1007)->text(), "Device In Use Elsewhere");
    QLabel* status = Label(1009);
    EXPECT_THAT(status->text().toStdString(), ::testing::HasSubstr("is in use by <h1>BIG<br>X, process "));
    EXPECT_EQ(status->textFormat(), Qt::PlainText);
    QLabel plain;
    plain.setFont(status->font());
    plain.setWordWrap(status->wordWrap());
    plain.setAlignment(status->alignment());
    plain.setContentsMargins(status->contentsMargins());
    plain.setTextFormat(Qt::PlainText);
    plain.setText(status->text());
    EXPECT_EQ(status->heightForWidth(status->width()), plain.heightForWidth(status->width()))
        << "shown as the text it is";
    // The window goes on meanwhile: it follows the restart as the flash does.
    auto done = [&] { return flash.state() == QProcess::NotRunning; };
    ASSERT_TRUE(WaitFor(done) || WaitFor(done) || WaitFor(done));
    EXPECT_EQ(flash.exitCode(), 0) << flash.readAllStandardError().toStdString();
    ASSERT_TRUE(WaitFor([&] { return ConnectedView(); }));
    EXPECT_EQ(Edit(2000)->text(), "  Version 2.01.0");
}

TEST_F(RealBackend, EveryTabKeyFromAnEditWritesItOnceBeforeTheNewTabIsRead)
{
    Start();
    struct Edit {
        int tab, id, group, index;
    };
    const Edit edits[] = {{0, 2004, 0, 5}, {1, 2012, 1, 5}, {3, 2019, 3, 1}, {5, 2036, 5, 3}};
    struct Key {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int step;
    };
    const Key keys[] = {{Qt::Key_Tab, Qt::ControlModifier, 1},
                        {Qt::Key_PageDown, Qt::ControlModifier, 1},
                        {Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier, -1},
                        {Qt::Key_PageUp, Qt::ControlModifier, -1}};
    QTabBar* bar = dlg->TabCtrl()->tabBar();
    int n = 0;
    for (const Edit& e : edits) {
        for (const Key& k : keys) {
            SCOPED_TRACE(std::to_string(e.id) + " key " + std::to_string(k.key));
            bar->setCurrentIndex(e.tab);
            const std::string typed = std::to_string(10 + n++);
            TypeAsUser(this->Edit(e.id), QString::fromStdString(typed));
            MarkWire();
            QTest::keyClick(dlg->windowHandle(), k.key, k.modifiers);
            Settle();
            const auto wire = Wire();
            ASSERT_EQ(wire.size(), 3u) << ::testing::PrintToString(wire);
            EXPECT_TRUE(StartsWith(wire[0], TextCommand(e.group, e.index, typed))) << wire[0];
            EXPECT_TRUE(StartsWith(wire[1], "GET 04"));
            EXPECT_TRUE(StartsWith(wire[2], "GET 05"));
            EXPECT_EQ(bar->currentIndex(), (e.tab + k.step + 7) % 7);
        }
    }
    EXPECT_TRUE(errors.empty());

    // A rejected entry shows its message, and neither a tab key nor a click on a tab changes the tab.
    bar->setCurrentIndex(0);
    for (int attempt = 0; attempt < 2; ++attempt) {
        SCOPED_TRACE(attempt == 0 ? "Ctrl+Tab" : "click");
        errors.clear();
        TypeAsUser(this->Edit(2004), "12345");
        MarkWire();
        if (attempt == 0) {
            QTest::keyClick(dlg->windowHandle(), Qt::Key_Tab, Qt::ControlModifier);
        } else {
            QTest::mouseClick(dlg->windowHandle(), Qt::LeftButton, {}, bar->mapTo(dlg.get(), bar->tabRect(2).center()));
        }
        Settle();
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0], "Entry too long");
        EXPECT_EQ(bar->currentIndex(), 0);
        EXPECT_TRUE(Shown(2004));
        EXPECT_EQ(QApplication::focusWidget(), this->Edit(2004));
        EXPECT_TRUE(Wire().empty());
    }
}

TEST_F(RealBackend, AfterTheRestoreTheTabShowsTheDefaults)
{
    Start();
    TypeAsUser(Edit(2004), "4321");
    ClickAsUser(Item<QPushButton>(2006));
    Settle();
    const auto wire = Wire();
    ASSERT_GE(wire.size(), 4u);
    const std::vector<std::string> last(wire.end() - 4, wire.end());
    EXPECT_TRUE(StartsWith(last[0], TextCommand(0, 5, "4321"))) << last[0];
    EXPECT_TRUE(StartsWith(last[1], Command({3, 2, 0x35, 0x35}))) << last[1];
    EXPECT_TRUE(StartsWith(last[2], "GET 04"));
    EXPECT_TRUE(StartsWith(last[3], "GET 05"));
    EXPECT_EQ(Edit(2004)->text(), "1234");  // the controller's default password
    EXPECT_TRUE(errors.empty());
}

TEST_F(RealBackend, TheConnectionLineNamesTheControllerShownAmongSeveral)
{
    Start();
    EXPECT_EQ(Label(1007)->text(), "Device Connected");
    Bench("attach 2.01.0");
    ASSERT_TRUE(WaitFor([&] { return Label(1007)->text() != "Device Connected"; }));
    EXPECT_EQ(Label(1007)->text(), "Device Connected: /dev/hidraw0 (2 attached)");
    EXPECT_LE(Label(1007)->sizeHint().width(), Label(1007)->width()) << "the whole line shows";
    EXPECT_LT(Label(1007)->geometry().right(), Item<QPushButton>(dlg::IDOK)->geometry().left());

    // The install's question names it too; with one controller it has no such line.
    confirmAnswer = false;
    ClickAsUser(Item<QPushButton>(2005));
    EXPECT_EQ(confirmDetail, "It installs on the controller at /dev/hidraw0, one of the 2 attached.");
    EXPECT_TRUE(Sets().empty()) << "nothing is written when the question is cancelled";

    Bench("select /dev/hidraw1");
    Bench("unplug");
    ASSERT_TRUE(WaitFor([&] { return Label(1007)->text() == "Device Connected"; }))
        << Label(1007)->text().toStdString();
    ASSERT_TRUE(WaitFor([&] { return session.ControllersAttached() == 1; }));  // the listing may lag the event
    ClickAsUser(Item<QPushButton>(2005));
    EXPECT_EQ(confirmDetail, "");
}

}  // namespace

// The main dialog over a platform (the virtual controller, or the real backend on the emulated kernel
// device), with its wire traffic captured and its "Error" boxes recorded.
#pragma once

#include "app/doorphoneconfigdlg.h"
#include "device/device_link.h"
#include "device/wire_log.h"
#include "sim/virtual_controller.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTest>

#include <gtest/gtest.h>

#include "tests/scratch_dir.h"
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

class DialogFixtureBase : public ::testing::Test {
protected:
    DeviceLink link;
    ControllerSession session{link};
    std::unique_ptr<CDoorphoneConfigDlg> dlg;
    std::vector<QString> errors;        // every "Error" box, in order
    std::vector<QString> errorDetails;  // the line below each one's text
    std::vector<QString> messages;      // every box through the application (its name as caption), in order
    std::function<void()> onError;      // runs while an "Error" box would be open

    explicit DialogFixtureBase(HidPlatform& platform) : link(platform)
    {
        // A file of its own: the install's worker writes it while the test reads it back through another handle.
        wireDir_ = MakeScratchDir("dpc-wire-");
        wirePath_ = (wireDir_ / "wire.log").string();
        std::string error;
        link.SetWireLog(std::shared_ptr<WireLog>(WireLog::Open(wirePath_, error)));
    }

    ~DialogFixtureBase() override
    {
        dlg.reset();
        link.SetWireLog(nullptr);
        std::error_code ignored;
        std::filesystem::remove_all(wireDir_, ignored);
    }

    DialogHooks Hooks()
    {
        DialogHooks hooks;
        hooks.error = [this](QWidget*, const QString& text, const QString& detail) {
            errors.push_back(text);
            errorDetails.push_back(detail);
            if (onError) {
                onError();
            }
        };
        hooks.applicationMessage = [this](QWidget*, const QString& text, const QString&) { messages.push_back(text); };
        return hooks;
    }

    void StartWith(MonitorFactory monitors, DialogHooks hooks,
                   std::chrono::milliseconds settle = std::chrono::milliseconds(0))
    {
        dlg = std::make_unique<CDoorphoneConfigDlg>(session, std::move(monitors), std::move(hooks));
        dlg->SetArrivalSettleTime(settle);
    }

    template <class T>
    T* Item(int id)
    {
        T* item = dlg->Item<T>(id);
        EXPECT_NE(item, nullptr) << id;
        return item;
    }
    QLineEdit* Edit(int id) { return Item<QLineEdit>(id); }
    QComboBox* Combo(int id) { return Item<QComboBox>(id); }
    QLabel* Label(int id) { return Item<QLabel>(id); }
    bool Shown(int id) { return !dlg->GetDlgItem(id)->isHidden(); }

    bool ConnectedView()
    {
        // With several controllers attached, the line goes on to name the one shown.
        const QString line = Label(1007)->text();
        return dlg->ConnectionState() == dlg::kConnected &&
               (line == "Device Connected" || line.startsWith("Device Connected: ")) && !dlg->TabCtrl()->isHidden() &&
               !Shown(1009);
    }
    // The disconnected view, or one of its forms for a controller that is present but not shown.
    bool DisconnectedView()
    {
        const QString line = Label(1007)->text();
        const bool lineSaysSo =
            line == "Device Disconnected" || line == dlg::kDeviceInUse || line == dlg::kDeviceNotAccessible;
        if (dlg->ConnectionState() != dlg::kDisconnected || !lineSaysSo || !dlg->TabCtrl()->isHidden() ||
            !Shown(1009)) {
            return false;
        }
        for (const QPointer<QWidget>& control : dlg->Registry()) {
            if (control && !control->isHidden()) {
                return false;
            }
        }
        for (int id : dlg::kRowLabelIds) {
            if (Shown(id)) {
                return false;
            }
        }
        return true;
    }

    // What a user's click on a tab does.
    void UserSelectsTab(int index) { dlg->TabCtrl()->tabBar()->setCurrentIndex(index); }

    // Runs the event loop until the condition holds or ten seconds pass (a ceiling for slow machines only).
    static bool WaitFor(const std::function<bool()>& condition)
    {
        QElapsedTimer timer;
        timer.start();
        while (!condition()) {
            if (timer.elapsed() > 10000) {
                return false;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return true;
    }
    static void Settle()
    {
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::processEvents();
        }
    }

    // The wire log since the last MarkWire().
    std::vector<std::string> Wire()
    {
        const std::string all = WireText();
        std::istringstream in(all.substr(std::min(mark_, all.size())));
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }
    std::vector<std::string> Sets()
    {
        std::vector<std::string> sets;
        for (const std::string& line : Wire()) {
            if (line.rfind("SET", 0) == 0) {
                sets.push_back(line);
            }
        }
        return sets;
    }
    // How many restore-defaults commands went out since the last MarkWire().
    int RestoreCommands()
    {
        int n = 0;
        for (const std::string& s : Sets()) {
            n += s.rfind(Command({3, 2, 0x35, 0x35}), 0) == 0;
        }
        return n;
    }
    void MarkWire() { mark_ = WireText().size(); }

    // The start of a parameter report as the wire log writes it, e.g. Param("04", "2103") for (2,1) = 3.
    static std::string Command(std::initializer_list<int> bytes)
    {
        std::string s = "SET";
        char hex[4];
        for (int b : bytes) {
            std::snprintf(hex, sizeof hex, " %02x", b);
            s += hex;
        }
        return s;
    }

    // A text command as the wire log writes it, e.g. TextCommand(3, 1, "42") for Open Code = "42".
    static std::string TextCommand(int group, int index, const std::string& text)
    {
        const int n = static_cast<int>(text.size());
        std::string s = Command({3, n + 4, '0' + group, '0' + index, '0' + n / 10, '0' + n % 10});
        char hex[4];
        for (char c : text) {
            std::snprintf(hex, sizeof hex, " %02x", static_cast<unsigned char>(c));
            s += hex;
        }
        return s;
    }

private:
    std::string WireText() const
    {
        std::ifstream in(wirePath_);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::filesystem::path wireDir_;
    std::string wirePath_;
    std::size_t mark_ = 0;
};

struct VirtualControllerHolder {
    sim::VirtualController controller;
};

// The dialog over the virtual controller, which the tests drive directly.
class DialogFixture : protected VirtualControllerHolder, public DialogFixtureBase {
protected:
    DialogFixture() : DialogFixtureBase(controller) {}

    void Start(DialogHooks hooks)
    {
        StartWith([this] { return controller.CreateMonitor(); }, std::move(hooks));
    }
    void Start() { Start(Hooks()); }

    // Shown and active, for tests that move the keyboard focus.
    void StartShown()
    {
        Start();
        dlg->show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
    }
};

// One command to the bench of the emulate-controller this test runs in, e.g. "unplug", through its FIFO: one
// line, written whole.
inline void CommandToEmulatedBench(const std::string& command)
{
    const char* control = std::getenv("EMULATE_CONTROLLER_CONTROL");
    ASSERT_NE(control, nullptr);
    std::ofstream fifo(control, std::ios::binary);
    ASSERT_TRUE(fifo.is_open());
    fifo << command + "\n" << std::flush;
    ASSERT_TRUE(fifo.good());
}

// Whether `line` starts with `prefix`.
inline bool StartsWith(const std::string& line, const std::string& prefix)
{
    return line.rfind(prefix, 0) == 0;
}

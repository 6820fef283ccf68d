// What a screen reader announces for each value control, through Qt's accessibility interfaces: its row
// label on every tab, also after the labels change with the attached station; its name, value and role;
// the status fields as Tab stops while a screen reader runs; and each outcome of the status and
// connection lines as an event a screen reader speaks.
#include "tests/app/dialog_fixture.h"

#include "settings/catalogue.h"

#include <QAccessible>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QTabBar>

#include <gmock/gmock.h>

namespace {

using ::testing::HasSubstr;

// A screen reader starting and, at the end of the scope, ending, as Qt tells the program of it.
class ScreenReader {
public:
    ScreenReader() { QAccessible::setActive(true); }
    ~ScreenReader() { QAccessible::setActive(false); }
    ScreenReader(const ScreenReader&) = delete;
    ScreenReader& operator=(const ScreenReader&) = delete;
};

class Accessibility : public DialogFixture {
protected:
    // The name, the description and the labels related to the control, as assistive technology reads them.
    static std::string Announced(QWidget* control)
    {
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(control);
        if (iface == nullptr) {
            return {};
        }
        QString text = iface->text(QAccessible::Name) + " | " + iface->text(QAccessible::Description);
        for (const auto& [label, relation] : iface->relations(QAccessible::Label)) {
            text += " | label: " + label->text(QAccessible::Name);
        }
        return text.toStdString();
    }

    void ExpectEveryShownControlAnnouncedWithItsRowLabel()
    {
        for (int tab = 0; tab < kTabCount; ++tab) {
            UserSelectsTab(tab);
            for (const CatalogueEntry* entry : EntriesOfTab(tab)) {
                if (!Shown(entry->controlId)) {
                    continue;
                }
                const std::string rowLabel =
                    Label(dlg::kRowLabelIds[static_cast<std::size_t>(entry->row - 1)])->text().toStdString();
                ASSERT_FALSE(rowLabel.empty()) << entry->key;
                const std::string announced = Announced(dlg->GetDlgItem(entry->controlId));
                EXPECT_THAT(announced, HasSubstr(rowLabel)) << entry->key;
                // The label is related to the control itself, which is what Linux screen readers follow.
                EXPECT_THAT(announced, HasSubstr("label: " + rowLabel)) << entry->key;
            }
        }
    }
};

TEST_F(Accessibility, EachShownValueControlIsAnnouncedWithItsRowLabelOnEveryTab)
{
    StartShown();
    ExpectEveryShownControlAnnouncedWithItsRowLabel();

    // Another station: the station-only rows go, and come back with their labels.
    controller.FirstUnit().SetStation(0x15);
    UserSelectsTab(1);
    UserSelectsTab(0);
    ExpectEveryShownControlAnnouncedWithItsRowLabel();
    controller.FirstUnit().SetStation(0x73);
    UserSelectsTab(4);
    UserSelectsTab(0);
    ExpectEveryShownControlAnnouncedWithItsRowLabel();
    UserSelectsTab(4);
    EXPECT_THAT(Announced(dlg->GetDlgItem(2033)), HasSubstr("label: 7407 Backlight Brightness"));
}

// "Outgoing Call Mode, Hotline Dial, combo box": the setting, its value and its kind, on every tab.
TEST_F(Accessibility, EachValueControlHasItsLabelAsNameItsShownValueAsValueAndItsRole)
{
    StartShown();
    for (int tab = 0; tab < kTabCount; ++tab) {
        UserSelectsTab(tab);
        for (const CatalogueEntry* entry : EntriesOfTab(tab)) {
            if (!Shown(entry->controlId)) {
                continue;
            }
            QWidget* control = dlg->GetDlgItem(entry->controlId);
            QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(control);
            ASSERT_NE(iface, nullptr) << entry->key;
            EXPECT_EQ(iface->text(QAccessible::Name).toStdString(), entry->label) << entry->key;
            if (auto* combo = qobject_cast<QComboBox*>(control)) {
                EXPECT_EQ(iface->role(), QAccessible::ComboBox) << entry->key;
                EXPECT_FALSE(combo->currentText().isEmpty()) << entry->key;
                EXPECT_EQ(iface->text(QAccessible::Value), combo->currentText()) << entry->key;
            } else {
                auto* edit = qobject_cast<QLineEdit*>(control);
                ASSERT_NE(edit, nullptr) << entry->key;
                EXPECT_EQ(iface->role(), QAccessible::EditableText) << entry->key;
                EXPECT_EQ(iface->text(QAccessible::Value), edit->text()) << entry->key;
                EXPECT_EQ(iface->state().readOnly, edit->isReadOnly()) << entry->key;
            }
        }
    }
    // The value follows the list: a new entry is the new value, under the same name.
    UserSelectsTab(1);
    Combo(2008)->setCurrentIndex(2);
    QAccessibleInterface* mode = QAccessible::queryAccessibleInterface(Combo(2008));
    EXPECT_EQ(mode->text(QAccessible::Name), "Outgoing Call Mode");
    EXPECT_EQ(mode->text(QAccessible::Value), "Dial Number after dialtone");
}

// With a screen reader the status fields are read by Tab in their row order; without one, the Tab order
// is the window's own: the entry field and the buttons only.
TEST_F(Accessibility, TheStatusFieldsAreTabStopsWhileAScreenReaderRunsOnly)
{
    StartShown();
    UserSelectsTab(0);
    auto tabStops = [&] {
        dlg->TabCtrl()->tabBar()->setFocus(Qt::TabFocusReason);
        std::vector<int> ids;
        for (int i = 0; i < 12; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget* now = QApplication::focusWidget();
            const int id = now->property("controlId").toInt();
            if (now == dlg->TabCtrl()->tabBar() || id == dlg::kTabCtrlId || (!ids.empty() && id == ids.front())) {
                break;  // round to the start
            }
            ids.push_back(id);
        }
        return ids;
    };
    EXPECT_EQ(tabStops(), (std::vector<int>{2005, 2004, 2006}));
    {
        const ScreenReader reader;
        EXPECT_EQ(tabStops(), (std::vector<int>{2000, 2001, 2005, 2002, 2003, 2004, 2006}));
        QApplication::focusWidget()->clearFocus();
        // The firmware, the station and the line level are read where the focus is.
        dlg->TabCtrl()->tabBar()->setFocus(Qt::TabFocusReason);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QAccessibleInterface* detected = QAccessible::queryAccessibleInterface(QApplication::focusWidget());
        EXPECT_EQ(detected->text(QAccessible::Name), "Firmware Detected");
        EXPECT_EQ(detected->text(QAccessible::Value), Edit(2000)->text());
        EXPECT_FALSE(Edit(2000)->text().isEmpty());
    }
    EXPECT_EQ(tabStops(), (std::vector<int>{2005, 2004, 2006}));
}

// Every outcome of the status and connection lines reaches a screen reader as a name change of a status bar.
TEST_F(Accessibility, EachOutcomeOfTheStatusAndConnectionLinesIsAnnounced)
{
    std::vector<std::pair<int, std::string>> said;
    DialogHooks hooks = Hooks();
    hooks.confirm = [](QWidget*, const QString&, const QString&, const QString&) { return true; };
    hooks.announced = [&](int id, const QString& text) { said.emplace_back(id, text.toStdString()); };
    hooks.firmwareError = [](const QString&) {};  // the failed write's box, answered
    std::FILE* devnull = std::fopen("/dev/null", "w");
    hooks.firmwareTrace = devnull;
    controller.FirstUnit().SetRebootTimes(std::chrono::milliseconds(100), std::chrono::milliseconds(50));
    Start(std::move(hooks));
    dlg->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
    for (int id : {dlg::kStatusLineId, dlg::kConnectionLineId}) {
        QAccessibleInterface* line = QAccessible::queryAccessibleInterface(Label(id));
        EXPECT_EQ(line->role(), QAccessible::StatusBar) << id;
        EXPECT_EQ(line->text(QAccessible::Name), Label(id)->text()) << id;
    }
    auto heard = [&](int id, const std::string& text) {
        return std::find(said.begin(), said.end(), std::make_pair(id, text)) != said.end();
    };
    EXPECT_TRUE(heard(dlg::kConnectionLineId, "Device Connected"));

    said.clear();
    controller.FirstUnit().Unplug();
    ASSERT_TRUE(WaitFor([&] { return DisconnectedView(); }));
    EXPECT_TRUE(heard(dlg::kConnectionLineId, "Device Disconnected"));
    EXPECT_TRUE(heard(dlg::kStatusLineId, "Please connect your device now"));
    controller.FirstUnit().Plug();
    ASSERT_TRUE(WaitFor([&] { return ConnectedView(); }));

    // The install's outcome, heard by the time the controller restarts (written while the line is hidden, it
    // is said again as the line shows).
    said.clear();
    QTest::mouseClick(Item<QPushButton>(dlg::kInstallFirmwareId), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return !dlg->InstallRunning(); }));
    ASSERT_TRUE(WaitFor([&] { return heard(dlg::kStatusLineId, dlg::kProgrammingComplete); }));
    ASSERT_TRUE(WaitFor([&] { return ConnectedView(); }));

    // A failed install: its outcome is heard, and after its box the focus is on a control on screen.
    said.clear();
    controller.FirstUnit().PullOutAfterNthTransfer(40);
    QTest::mouseClick(Item<QPushButton>(dlg::kInstallFirmwareId), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return !dlg->InstallRunning(); }));
    EXPECT_TRUE(heard(dlg::kStatusLineId, dlg::kProgrammingFailed));
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), dlg::kThreadExited);
    ASSERT_NE(dlg->focusWidget(), nullptr);
    EXPECT_EQ(dlg->focusWidget(), Label(dlg::kStatusLineId));
    dlg.reset();
    std::fclose(devnull);
}

TEST_F(Accessibility, TheProgressBarHasAName)
{
    Start();
    EXPECT_THAT(Announced(dlg->GetDlgItem(dlg::kProgressBarId)), HasSubstr("Firmware install progress"));
}

}  // namespace

// The "Virtual controller" window: it shows and changes the unit its commands act on, the one that came last
// or the one chosen with select, and never another.
#include "app/virtual_controller_panel.h"
#include "device/reports.h"
#include "sim/defaults.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

struct Panel : ::testing::Test {
    sim::VirtualController bench;
    CVirtualControllerPanel panel{bench};

    QSpinBox* SpinBox(int maximum)
    {
        for (QSpinBox* box : panel.findChildren<QSpinBox*>()) {
            if (box->maximum() == maximum) {
                return box;
            }
        }
        ADD_FAILURE() << "no spin box up to " << maximum;
        return nullptr;
    }
    QPushButton* Button(const QString& text)
    {
        for (QPushButton* button : panel.findChildren<QPushButton*>()) {
            if (button->text() == text) {
                return button;
            }
        }
        ADD_FAILURE() << "no button " << text.toStdString();
        return nullptr;
    }
    // The state line: the unit's path, then whether it is plugged in, its firmware and transfers.
    QString State()
    {
        for (QLabel* label : panel.findChildren<QLabel*>()) {
            if (label->text().startsWith("virtual:")) {
                return label->text();
            }
        }
        return {};
    }
};

TEST_F(Panel, ChangesTheUnitThatCameLastAndTheOneChosenWithSelect)
{
    EXPECT_EQ(panel.Unit().Path(), sim::kDevicePath);
    panel.RunCommand("attach");
    ASSERT_EQ(panel.Unit().Path(), "virtual:7410/1");
    EXPECT_TRUE(State().startsWith("virtual:7410/1: plugged in"));

    SpinBox(255)->setValue(42);
    panel.findChild<QComboBox*>()->setCurrentIndex(1);  // the 7401
    SpinBox(15)->setValue(5);
    EXPECT_EQ(bench.Unit("virtual:7410/1").GetMemory().level, 42);
    EXPECT_EQ(bench.Unit("virtual:7410/1").GetMemory().station, EncodeStation({1, 5}));
    EXPECT_EQ(bench.FirstUnit().GetMemory().level, sim::kLevelByte);
    EXPECT_EQ(bench.FirstUnit().GetMemory().station, sim::FactoryMemory().station);

    // After select the window shows the chosen unit, and its buttons act on it alone.
    panel.RunCommand("select virtual:7410/0");
    EXPECT_EQ(SpinBox(255)->value(), sim::kLevelByte);
    Button("Pull out")->click();
    EXPECT_FALSE(bench.FirstUnit().IsPlugged());
    EXPECT_TRUE(bench.Unit("virtual:7410/1").IsPlugged());
    EXPECT_TRUE(State().startsWith("virtual:7410/0: pulled out"));
    panel.findChild<QComboBox*>()->setCurrentIndex(0);  // no station
    EXPECT_EQ(bench.FirstUnit().GetMemory().station, 0);
    EXPECT_EQ(bench.Unit("virtual:7410/1").GetMemory().station, EncodeStation({1, 5}));
}

// Commands written to the descriptor the panel reads, as the demo's standard input.
TEST_F(Panel, RunsTheCommandsOnItsInputAndALastLineWithoutNewlineAtItsEnd)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    panel.ReadCommandsFrom(fds[0]);
    const auto send = [&](const std::string& bytes) {
        ASSERT_EQ(write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    };

    send("attach\n");
    while (panel.Unit().Path() != "virtual:7410/1") {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    send("level 42");  // no newline: it counts once the input ends
    QCoreApplication::processEvents();
    EXPECT_EQ(bench.Unit("virtual:7410/1").GetMemory().level, sim::kLevelByte) << "ran before its line ended";

    close(fds[1]);
    while (bench.Unit("virtual:7410/1").GetMemory().level != 42) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    EXPECT_EQ(bench.FirstUnit().GetMemory().level, sim::kLevelByte);
    close(fds[0]);
}

}  // namespace

namespace {

TEST(PanelPlace, BesideTheDialogWholeOnTheScreenAndNeverOverItsTabs)
{
    const QSize panel(354, 179);
    const QRect dialog(298, 222, 670, 530);  // centred on a 1280 x 1024 screen
    const int tabsBottom = 222 + 475;
    // Room on the right of a wide screen.
    EXPECT_EQ(PanelPlace(dialog, tabsBottom, panel, QRect(0, 0, 1920, 1080)).topLeft(), QPoint(980, 222));
    // A 1280-pixel screen has room on neither side: below the dialog.
    const QRect below = PanelPlace(dialog, tabsBottom, panel, QRect(0, 0, 1280, 1024));
    EXPECT_EQ(below.topLeft(), QPoint(298, 764));
    // A small screen with no room around the dialog: whole on it, below the tabs.
    const QRect screen(0, 0, 1024, 768);
    const QRect tight = PanelPlace(QRect(177, 50, 670, 530), 50 + 475, panel, screen);
    EXPECT_TRUE(screen.contains(tight));
    EXPECT_GE(tight.top(), 50 + 475);
}

}  // namespace

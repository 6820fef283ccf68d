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

TEST(PanelPlace, BesideTheDialogOrWithTheDialogMovedAsideNeverOverItsTabsOrCloseButton)
{
    // The window without a window manager, and with a frame of 3 pixels and a caption of 23 around it.
    struct Frame {
        QSize size;
        QPoint client;
    };
    for (const Frame frame : {Frame{{664, 501}, {0, 0}}, Frame{{670, 530}, {3, 26}}}) {
        for (const QSize panel : {QSize(354, 234), QSize(360, 264)}) {
            for (const QSize screenSize : {QSize(1920, 1080), QSize(1280, 800), QSize(1366, 768), QSize(1024, 768)}) {
                SCOPED_TRACE(::testing::Message()
                             << screenSize.width() << "x" << screenSize.height() << ", panel " << panel.width() << "x"
                             << panel.height() << ", frame " << frame.size.width());
                const QRect screen(QPoint(0, 0), screenSize);
                const QRect dialog(QPoint((screenSize.width() - frame.size.width()) / 2,
                                          (screenSize.height() - frame.size.height()) / 2),
                                   frame.size);  // centred, as it starts
                const QPoint client = dialog.topLeft() + frame.client;
                const QRect tabs = QRect(15, 30, 635, 415).translated(client);
                const QRect close = QRect(575, 463, 75, 24).translated(client);
                const WindowPlaces places = PlaceBesideDialog(dialog, {tabs, close}, panel, screen);
                EXPECT_TRUE(screen.contains(places.dialog));
                EXPECT_TRUE(screen.contains(places.panel));
                EXPECT_EQ(places.dialog.size(), dialog.size());
                EXPECT_EQ(places.panel.size(), panel);
                const QPoint moved = places.dialog.topLeft() - dialog.topLeft();
                if (screenSize.width() >= 1280) {
                    EXPECT_FALSE(places.panel.intersects(places.dialog));
                }
                EXPECT_FALSE(places.panel.intersects(tabs.translated(moved)));
                EXPECT_FALSE(places.panel.intersects(close.translated(moved)));
                if (screenSize.width() == 1920) {
                    EXPECT_EQ(places.dialog, dialog) << "with room beside it the dialog stays where it is";
                    EXPECT_EQ(places.panel.topLeft(), QPoint(dialog.right() + 13, dialog.top()));
                }
            }
        }
    }
}

}  // namespace

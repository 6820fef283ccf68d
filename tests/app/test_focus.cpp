// Only the user's own edits are written: with the window shown and real clicks and keys, the focus moves
// that the dialog causes (a tab change, a pull-out) write nothing, and whatever ends the dialog writes the
// edit the user was in first.
#include "settings/catalogue.h"
#include "tests/app/dialog_fixture.h"

#include <QAbstractItemView>
#include <QScrollBar>

namespace {

struct Focus : DialogFixture {
    void ClickTab(int index)
    {
        QTabBar* bar = dlg->TabCtrl()->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
        Settle();
    }
    // Clicks into the edit and replaces its text by typing, as a user does.
    void ClickAndType(int id, const QString& text)
    {
        QTest::mouseClick(Edit(id), Qt::LeftButton);
        ASSERT_EQ(QApplication::focusWidget(), Edit(id)) << id;
        QTest::keyClick(Edit(id), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(Edit(id), text);
    }
    bool Closed() { return !dlg->isVisible(); }
};

TEST_F(Focus, ClickingAnotherTabFromAnEditSendsThatEditAloneThenReadsTheNewTab)
{
    StartShown();
    ClickTab(3);
    Edit(2023)->setText("x");  // a rejected text further down the tab, left as it was
    ClickAndType(2019, "42");
    MarkWire();
    ClickTab(2);
    const auto wire = Wire();
    ASSERT_EQ(wire.size(), 3u);
    EXPECT_TRUE(StartsWith(wire[0], TextCommand(3, 1, "42"))) << wire[0];
    EXPECT_TRUE(StartsWith(wire[1], "GET 04"));
    EXPECT_TRUE(StartsWith(wire[2], "GET 05"));
    EXPECT_TRUE(errors.empty()) << errors[0].toStdString();
    EXPECT_EQ(Label(1001)->text(), QString::fromUtf8(RowLabelsOfTab(2)[0].text));
    EXPECT_EQ(dlg->TabCtrl()->currentIndex(), 2);
}

TEST_F(Focus, TabBacktabAndClicksBetweenEditsStillCountAsLeaving)
{
    StartShown();
    ClickTab(3);
    ClickAndType(2019, "1");
    MarkWire();
    QTest::keyClick(Edit(2019), Qt::Key_Tab);
    Settle();
    QWidget* next = QApplication::focusWidget();
    QTest::keyClick(next, Qt::Key_Backtab);
    Settle();
    ASSERT_EQ(QApplication::focusWidget(), Edit(2019));
    QTest::mouseClick(Edit(2022), Qt::LeftButton);
    Settle();
    const auto sets = Sets();
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_TRUE(StartsWith(sets[0], TextCommand(3, 1, "1")));
    EXPECT_EQ(sets[0], sets[1]);
}

TEST_F(Focus, PullingOutWithTheFocusInAnEditSendsNothingAndOpensNoBox)
{
    for (const QString& typed : {QString("4321"), QString("12345")}) {
        SCOPED_TRACE(typed.toStdString());
        controller.FirstUnit().Plug();
        StartShown();
        ClickAndType(2004, typed);
        MarkWire();
        controller.FirstUnit().Unplug();
        ASSERT_TRUE(WaitFor([&] { return DisconnectedView(); }));
        Settle();
        EXPECT_TRUE(Sets().empty());
        EXPECT_TRUE(errors.empty());
        EXPECT_EQ(Label(1009)->text(), "Please connect your device now");
    }
}

TEST_F(Focus, TypingThenCloseSendsTheTextBeforeTheWindowGoesEveryTime)
{
    for (int i = 0; i < 20; ++i) {
        SCOPED_TRACE(i);
        StartShown();
        const QString text = QString::number(1000 + i);
        ClickAndType(2004, text);
        QTest::mouseClick(Item<QPushButton>(1), Qt::LeftButton);
        ASSERT_TRUE(Closed());
        EXPECT_EQ(dlg->result(), QDialog::Accepted);
        EXPECT_EQ(controller.FirstUnit().Text({0, 5}), text.toStdString());
    }
}

TEST_F(Focus, TheWindowsCloseWritesTheEditTheUserIsStillIn)
{
    StartShown();
    ClickAndType(2004, "7777");
    MarkWire();
    dlg->close();  // the window manager's close, as its button or Alt+F4 asks for it
    ASSERT_TRUE(Closed());
    EXPECT_EQ(dlg->result(), QDialog::Rejected);
    ASSERT_EQ(Sets().size(), 1u);
    EXPECT_TRUE(StartsWith(Sets()[0], TextCommand(0, 5, "7777")));
}

TEST_F(Focus, ARejectedEntryKeepsTheWindowOpenAgainstTheCloseButtonOnly)
{
    StartShown();
    ClickAndType(2004, "12345");
    MarkWire();
    QTest::mouseClick(Item<QPushButton>(1), Qt::LeftButton);
    Settle();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Entry too long");
    EXPECT_FALSE(Closed());
    EXPECT_TRUE(Sets().empty());

    // The window's own close command ends it all the same, after the message.
    errors.clear();
    dlg->windowHandle()->close();
    EXPECT_TRUE(Closed());
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_TRUE(Sets().empty());
}

TEST_F(Focus, TheLongestChoiceListDropsDownWithinItsRoom)
{
    StartShown();
    ClickTab(3);
    QComboBox* relay = Combo(2020);  // Relay Time, 31 entries
    ASSERT_EQ(relay->count(), 31);
    QTest::mouseClick(relay, Qt::LeftButton);
    QWidget* popup = relay->view()->window();
    ASSERT_TRUE(WaitFor([&] { return popup->isVisible(); }));
    const QRect room = relay->property("dropRect").toRect();
    const int below = relay->mapToGlobal(relay->rect().bottomLeft()).y();  // the field's last row
    const QRect shown = popup->frameGeometry();
    EXPECT_GE(shown.top(), below) << "opens below its field";
    EXPECT_LE(shown.height(), room.height() - relay->height()) << "stays in the rectangle's room";
    EXPECT_GE(relay->view()->height() / relay->view()->sizeHintForRow(0), 3) << "shows a few rows";
    EXPECT_GT(relay->view()->verticalScrollBar()->maximum(), 0) << "scrolls for the rest";
    QTest::keyClick(relay->view(), Qt::Key_Escape);
    Settle();
    EXPECT_TRUE(Sets().empty());
}

}  // namespace

// Every change goes out at once: one report per user change, text entries only after their rules pass.
#include "settings/catalogue.h"
#include "tests/app/box_answerer.h"
#include "tests/app/dialog_fixture.h"

#include <QAbstractItemView>
#include <QMessageBox>
#include <QTimer>

namespace {

struct Writeback : DialogFixture {
    // Types `text` into the edit and leaves it with Tab, as a user does.
    void TypeAndLeave(int id, const QString& text)
    {
        QLineEdit* edit = Edit(id);
        edit->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(edit->hasFocus()) << id;
        edit->selectAll();
        if (text.isEmpty()) {
            QTest::keyClick(edit, Qt::Key_Delete);
        } else {
            for (QChar c : text) {
                // keyClicks types Latin-1 only; a key event carries any character as its text.
                QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(c), Qt::NoModifier);
            }
        }
        ASSERT_EQ(edit->text(), text);
        QTest::keyClick(edit, Qt::Key_Tab);
        Settle();
    }

    // The text command that (group, index) = text makes, as the wire log starts it.
    static std::string NumericCommand(int group, int index, int value)
    {
        return Command({3, 4, '0' + group, '0' + index, '0' + value / 10, '0' + value % 10});
    }

    QWidget* Focus() { return QApplication::focusWidget(); }
};

TEST_F(Writeback, OneReportPerUserChangeAndNoneForTheDialogsOwnSelections)
{
    StartShown();
    UserSelectsTab(2);  // the read selects every list of the tab
    UserSelectsTab(1);
    UserSelectsTab(2);
    EXPECT_TRUE(Sets().empty());

    QComboBox* volume = Combo(2014);
    volume->setFocus(Qt::TabFocusReason);
    QTest::keyClick(volume, Qt::Key_Down);  // 5 -> 6
    QTest::keyClick(volume, Qt::Key_Down);  // 6 -> 7
    ASSERT_EQ(Sets().size(), 2u);
    EXPECT_TRUE(StartsWith(Sets()[0], NumericCommand(2, 1, 6)));
    EXPECT_TRUE(StartsWith(Sets()[1], NumericCommand(2, 1, 7)));
    EXPECT_EQ(controller.FirstUnit().ChoiceValue({2, 1}), 7);

    // Through the drop-down list, with the mouse.
    MarkWire();
    QComboBox* dsp = Combo(2016);
    dsp->showPopup();
    QAbstractItemView* view = dsp->view();
    ASSERT_TRUE(WaitFor([&] { return view->isVisible(); }));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(view->model()->index(1, 0)).center());
    Settle();
    ASSERT_EQ(Sets().size(), 1u);
    EXPECT_TRUE(StartsWith(Sets()[0], NumericCommand(2, 3, 1)));
    // Picking the entry that is already selected is no change.
    MarkWire();
    dsp->showPopup();
    ASSERT_TRUE(WaitFor([&] { return view->isVisible(); }));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(view->model()->index(1, 0)).center());
    Settle();
    EXPECT_TRUE(Sets().empty());
}

TEST_F(Writeback, ChoicesSendTheirListPosition)
{
    Start();
    UserSelectsTab(3);
    // A change from outside the dialog's own reads counts as the user's.
    Combo(2020)->setCurrentIndex(0);
    ASSERT_EQ(Sets().size(), 1u);
    EXPECT_TRUE(StartsWith(Sets().back(), NumericCommand(3, 2, 0)));  // "1/4 Second"
    Combo(2020)->setCurrentIndex(30);
    EXPECT_TRUE(StartsWith(Sets().back(), NumericCommand(3, 2, 30)));  // "30 Seconds"
    EXPECT_EQ(controller.FirstUnit().ChoiceValue({3, 2}), 30);

    UserSelectsTab(1);
    Combo(2013)->setCurrentIndex(15);  // "16"
    EXPECT_EQ(controller.FirstUnit().ChoiceValue({1, 6}), 15);
    Combo(2013)->setCurrentIndex(0);  // "1"
    EXPECT_EQ(controller.FirstUnit().ChoiceValue({1, 6}), 0);
}

TEST_F(Writeback, TheThreeOutputsAreIndependent)
{
    Start();
    UserSelectsTab(4);
    Combo(2027)->setCurrentIndex(8);
    EXPECT_EQ(controller.FirstUnit().ChoiceValue({4, 1}), 0);
    EXPECT_EQ(controller.FirstUnit().ChoiceValue({4, 2}), 8);
    EXPECT_EQ(controller.FirstUnit().ChoiceValue({4, 3}), 3);
    EXPECT_EQ(Sets().size(), 1u);
}

TEST_F(Writeback, DisconnectTypeSwitchesLoopDisconnect)
{
    Start();
    UserSelectsTab(6);
    ASSERT_TRUE(Combo(2038)->isEnabled());
    Combo(2037)->setCurrentIndex(1);  // "Polarity Reversal"
    EXPECT_TRUE(StartsWith(Sets().back(), NumericCommand(6, 1, 1)));
    EXPECT_FALSE(Combo(2038)->isEnabled());
    Combo(2037)->setCurrentIndex(0);  // "Loop Current"
    EXPECT_TRUE(StartsWith(Sets().back(), NumericCommand(6, 1, 0)));
    EXPECT_TRUE(Combo(2038)->isEnabled());
}

TEST_F(Writeback, OnlyChoiceSettingsReactToASelectionChange)
{
    Start();
    for (int id : {2000, 2004, 2005, 2006, 2007, 2012, 2019, 2036, 2042, 2043, 1001}) {
        dlg->OnChoiceChanged(id);
        dlg->OnEditKillFocus(id == 2004 || id == 2012 || id == 2019 || id == 2036 ? 2000 : id);
    }
    EXPECT_TRUE(Sets().empty());
    EXPECT_TRUE(errors.empty());
}

TEST_F(Writeback, TelephonePadCodes)
{
    StartShown();
    UserSelectsTab(3);

    TypeAndLeave(2019, "1*#9");
    ASSERT_EQ(Sets().size(), 1u);
    EXPECT_TRUE(StartsWith(Sets()[0], TextCommand(3, 1, "1*#9")));
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(Focus(), Combo(2020));

    struct Case {
        const char* text;
        const char* message;
    } rejected[] = {
        {"12345", "Entry too long"},
        {"12a5x", "Entry too long"},  // the length is tested before the characters
        {"12a4", "Invalid: Must be telephone pad character (0-9, #, *)"},
        {"1 2", "Invalid: Must be telephone pad character (0-9, #, *)"},
        // Characters, not bytes: as doorphonectl set judges the same texts.
        {"\uff11\uff12", "Invalid: Must be telephone pad character (0-9, #, *)"},
        {"\uff11\uff12\uff13\uff14", "Invalid: Must be telephone pad character (0-9, #, *)"},
        {"\uff11\uff12\uff13\uff14\uff15", "Entry too long"},
    };
    for (const Case& c : rejected) {
        SCOPED_TRACE(c.text);
        MarkWire();
        errors.clear();
        TypeAndLeave(2022, c.text);
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0], c.message);
        EXPECT_TRUE(Sets().empty());
        EXPECT_EQ(Focus(), Edit(2022));         // back to the edit
        EXPECT_EQ(Edit(2022)->text(), c.text);  // as the user typed it
    }

    // Corrected, it goes out and the focus moves on.
    errors.clear();
    TypeAndLeave(2022, "*1");
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(controller.FirstUnit().Text({3, 4}), "*1");
    EXPECT_EQ(Focus(), Edit(2023));

    MarkWire();
    TypeAndLeave(2023, "");
    ASSERT_EQ(Sets().size(), 1u);
    EXPECT_TRUE(StartsWith(Sets()[0], TextCommand(3, 5, "")));
    EXPECT_EQ(controller.FirstUnit().Text({3, 5}), "");

    UserSelectsTab(0);
    MarkWire();
    TypeAndLeave(2004, "#0#0");
    EXPECT_EQ(controller.FirstUnit().Text({0, 5}), "#0#0");
    EXPECT_TRUE(errors.empty());
}

TEST_F(Writeback, TelephoneNumbers)
{
    StartShown();
    UserSelectsTab(1);
    TypeAndLeave(2012, "0123456789012345");
    EXPECT_EQ(controller.FirstUnit().Text({1, 5}), "0123456789012345");
    EXPECT_TRUE(errors.empty());

    MarkWire();
    TypeAndLeave(2012, "01234567890123456");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Dial number too long. Maximum is 16 digits.");
    EXPECT_TRUE(Sets().empty());
    EXPECT_EQ(Focus(), Edit(2012));

    // Not all digits: the message, nothing sent, and the focus stays where the user moved it.
    errors.clear();
    TypeAndLeave(2012, "555-1234");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Invalid: Must be all numeric.");
    EXPECT_TRUE(Sets().empty());
    EXPECT_EQ(Focus(), Combo(2013));
    EXPECT_EQ(Edit(2012)->text(), "555-1234");

    UserSelectsTab(5);
    errors.clear();
    TypeAndLeave(2036, "");
    EXPECT_TRUE(errors.empty());
    EXPECT_TRUE(StartsWith(Sets().back(), TextCommand(5, 3, "")));
    TypeAndLeave(2036, "0123456789");
    EXPECT_EQ(controller.FirstUnit().Text({5, 3}), "0123456789");
    MarkWire();
    TypeAndLeave(2036, "abc-def ghi");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "?? number too long. Maximum is 10 digits.");
    EXPECT_TRUE(Sets().empty());
    EXPECT_EQ(Focus(), Edit(2036));
}

TEST_F(Writeback, EmployeeAccessCode)
{
    StartShown();
    UserSelectsTab(3);
    TypeAndLeave(2025, "12345678");
    EXPECT_EQ(controller.FirstUnit().Text({3, 7}), "12345678");
    MarkWire();
    TypeAndLeave(2025, "1234567a");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Invalid: Must be all numeric.");
    EXPECT_EQ(Focus(), Edit(2025));
    errors.clear();
    TypeAndLeave(2025, "123456789");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Employee Access Code too long. Maximum is 8 digits.");
    EXPECT_EQ(Focus(), Edit(2025));
    EXPECT_TRUE(Sets().empty());
}

TEST_F(Writeback, TabbingThroughAnUnchangedEditSendsItAgain)
{
    StartShown();
    Edit(2004)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(Edit(2004), Qt::Key_Tab);
    Settle();
    Edit(2004)->setFocus(Qt::BacktabFocusReason);
    QTest::keyClick(Edit(2004), Qt::Key_Tab);
    Settle();
    ASSERT_EQ(Sets().size(), 2u);
    EXPECT_TRUE(StartsWith(Sets()[0], TextCommand(0, 5, "1234")));
    EXPECT_EQ(Sets()[0], Sets()[1]);
}

TEST_F(Writeback, StatusFieldsNeverSend)
{
    StartShown();
    for (int id : {2000, 2001, 2002, 2003}) {
        QTest::mouseClick(Edit(id), Qt::LeftButton);
        ASSERT_EQ(Focus(), Edit(id));
        QTest::keyClick(Edit(id), Qt::Key_Backtab);  // away, without passing through the password edit
        Settle();
        EXPECT_NE(Focus(), Edit(id));
    }
    EXPECT_TRUE(Sets().empty());
}

TEST_F(Writeback, RestoreTwiceSendsTwiceAndReadsTheTabEachTime)
{
    Start();
    link.SendStringParameter(0, 5, 2, "99");
    MarkWire();
    QTest::mouseClick(Item<QPushButton>(2006), Qt::LeftButton);
    QTest::mouseClick(Item<QPushButton>(2006), Qt::LeftButton);
    ASSERT_EQ(Sets().size(), 2u);
    EXPECT_TRUE(StartsWith(Sets()[0], Command({3, 2, 0x35, 0x35})));
    EXPECT_EQ(Sets()[0], Sets()[1]);
    EXPECT_EQ(controller.FirstUnit().Text({0, 5}), "1234");
    EXPECT_EQ(Edit(2004)->text(), "1234");
    EXPECT_EQ(Wire().size(), 6u);  // each restore, then the tab's two reads
}

TEST_F(Writeback, AnEditLeftForAButtonIsWrittenBeforeTheButtonActs)
{
    StartShown();
    Edit(2004)->setFocus(Qt::TabFocusReason);
    Edit(2004)->setText("4321");
    MarkWire();
    QTest::mouseClick(Item<QPushButton>(2006), Qt::LeftButton);
    Settle();
    ASSERT_EQ(Sets().size(), 2u);
    EXPECT_TRUE(StartsWith(Sets()[0], TextCommand(0, 5, "4321")));
    EXPECT_TRUE(StartsWith(Sets()[1], Command({3, 2, 0x35, 0x35})));
    EXPECT_EQ(controller.FirstUnit().Text({0, 5}), "1234");  // the defaults won
}

TEST_F(Writeback, AnEditLeftForAListIsWrittenFirst)
{
    StartShown();
    UserSelectsTab(1);
    Edit(2012)->setFocus(Qt::TabFocusReason);
    Edit(2012)->setText("77");
    MarkWire();
    QTest::mouseClick(Combo(2011), Qt::LeftButton);
    QTest::keyClick(Combo(2011)->view(), Qt::Key_Down);
    QTest::keyClick(Combo(2011)->view(), Qt::Key_Return);
    Settle();
    ASSERT_EQ(Sets().size(), 2u);
    EXPECT_TRUE(StartsWith(Sets()[0], TextCommand(1, 5, "77")));
    EXPECT_TRUE(StartsWith(Sets()[1], NumericCommand(1, 4, 1)));
}

TEST_F(Writeback, TheFirstFocusIsTheTabControlSoATabChangeWritesNothing)
{
    StartShown();
    EXPECT_TRUE(dlg->TabCtrl()->isAncestorOf(QApplication::focusWidget()) ||
                QApplication::focusWidget() == dlg->TabCtrl());
    MarkWire();
    UserSelectsTab(3);
    Settle();
    EXPECT_TRUE(Sets().empty());
}

TEST_F(Writeback, AFailedWriteSaysSoAndReadsTheTabAgain)
{
    StartShown();
    MarkWire();
    controller.FirstUnit().FailNthTransfer(1);
    TypeAndLeave(2004, "55");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Input/output error");  // the system's text
    EXPECT_EQ(errorDetails[0], "The controller did not take DTMF Password, so it is not saved. The window now shows "
                               "what the controller holds.");
    EXPECT_EQ(Edit(2004)->text(), "1234") << "the controller's value, read again";
    const auto wire = Wire();
    ASSERT_EQ(wire.size(), 3u);
    EXPECT_TRUE(StartsWith(wire[0], TextCommand(0, 5, "55")));
    EXPECT_NE(wire[0].find(" fail"), std::string::npos);
    EXPECT_TRUE(StartsWith(wire[1], "GET 04"));
    EXPECT_TRUE(StartsWith(wire[2], "GET 05"));

    // A choice likewise, and a read that fails too leaves the controls as they were.
    UserSelectsTab(2);
    errors.clear();
    controller.FirstUnit().FailFromNthTransfer(1);
    Combo(2014)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(Combo(2014), Qt::Key_Down);
    Settle();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(Combo(2014)->currentIndex(), 6);
    controller.FirstUnit().ClearFaults();
    controller.FirstUnit().FailFromNthTransfer(0);

    UserSelectsTab(0);
    errors.clear();
    controller.FirstUnit().FailNthTransfer(1);
    QTest::mouseClick(Item<QPushButton>(2006), Qt::LeftButton);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errorDetails.back(), "The controller did not restore its default settings. The window now shows what "
                                   "the controller holds.");
}

TEST_F(Writeback, AFailedWriteWhileDisconnectedShowsNoBox)
{
    StartShown();
    controller.FirstUnit().Unplug();
    ASSERT_TRUE(WaitFor([&] { return dlg->ConnectionState() == dlg::kDisconnected; }));
    MarkWire();
    dlg->OnRestoreDefaults();
    EXPECT_TRUE(errors.empty());
    ASSERT_EQ(Sets().size(), 1u);
    EXPECT_NE(Sets()[0].find(" fail"), std::string::npos);
}

// With the real "Error" box: no second box opens while the first is up, and the focus returns to the edit.
TEST_F(Writeback, TheRealErrorBoxGivesTheFocusBack)
{
    DialogHooks hooks;  // default boxes
    Start(hooks);
    dlg->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
    int boxes = 0;
    QString shownText;
    QString caption;
    bool hadIcon = true;
    int buttons = 0;
    QTimer closer;
    closer.setInterval(10);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            ++boxes;
            shownText = box->text();
            caption = box->windowTitle();
            hadIcon = box->icon() != QMessageBox::NoIcon;
            buttons = static_cast<int>(box->buttons().size());
            box->accept();
        }
    });
    closer.start();
    Edit(2004)->setFocus(Qt::TabFocusReason);
    Edit(2004)->setText("12345");
    QTest::keyClick(Edit(2004), Qt::Key_Tab);
    ASSERT_TRUE(WaitFor([&] { return boxes == 1; }));
    dlg->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
    Settle();
    QTest::qWait(50);
    EXPECT_EQ(boxes, 1);
    EXPECT_EQ(shownText, "Entry too long");
    EXPECT_EQ(caption, "Error");
    EXPECT_FALSE(hadIcon);
    EXPECT_EQ(buttons, 1);
    EXPECT_EQ(QApplication::focusWidget(), Edit(2004));
    EXPECT_TRUE(Sets().empty());
}

TEST_F(Writeback, TheRealBoxOfAFailedWriteNamesTheSettingShowsItsCaptionAndTakesAClick)
{
    Start(DialogHooks{});  // the real boxes
    dlg->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
    BoxAnswerer boxes;
    UserSelectsTab(2);
    controller.FirstUnit().FailNthTransfer(1, EPIPE);
    Combo(2014)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(dlg->windowHandle(), Qt::Key_Down);
    ASSERT_TRUE(WaitFor([&] { return !boxes.seen.empty() && OpenBoxes().empty(); }));
    EXPECT_EQ(boxes.seen[0], "Error: Broken pipe");
    EXPECT_EQ(boxes.details[0], "The controller did not take Speaker Volume, so it is not saved. The window now shows "
                                "what the controller holds.");
    EXPECT_GE(boxes.widths[0], 300) << "room for the caption beside a title bar's buttons";
}

}  // namespace

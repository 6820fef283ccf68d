// The keyboard never reaches a control that is not on screen, and the window never writes to a controller
// other than the one it shows: real key events on the shown window, over the virtual controller.
#include "tests/app/dialog_fixture.h"

#include "settings/catalogue.h"

#include <QAbstractItemView>

namespace {

// Every key that moves a choice list or opens it.
const Qt::Key kListKeys[] = {Qt::Key_Up, Qt::Key_Down, Qt::Key_Home, Qt::Key_End, Qt::Key_P, Qt::Key_Space};

class HiddenControls : public DialogFixture {
protected:
    // Each key as the window system would send it to the window.
    void PressEveryListKey()
    {
        for (Qt::Key key : kListKeys) {
            QTest::keyClick(dlg->windowHandle(), key);
            Settle();
        }
    }
    bool AnyPopupOpen() { return QApplication::activePopupWidget() != nullptr; }

    // The last choice list shown on `tab`.
    QComboBox* LastList(int tab)
    {
        QComboBox* last = nullptr;
        for (const CatalogueEntry* entry : EntriesOfTab(tab)) {
            if (entry->kind == EntryKind::Choice && Shown(entry->controlId)) {
                last = Combo(entry->controlId);
            }
        }
        return last;
    }
};

TEST_F(HiddenControls, AfterAPullOutAndReturnNoKeyWritesTheListThatHadTheFocus)
{
    StartShown();
    for (int tab = 1; tab < kTabCount; ++tab) {
        SCOPED_TRACE(kTabNames[static_cast<std::size_t>(tab)]);
        UserSelectsTab(tab);
        QComboBox* list = LastList(tab);
        ASSERT_NE(list, nullptr);
        list->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(list->hasFocus());

        controller.FirstUnit().Unplug();
        ASSERT_TRUE(WaitFor([&] { return DisconnectedView(); }));
        // The line that says what to do has the focus (a screen reader reads it); it takes no key.
        EXPECT_EQ(dlg->focusWidget(), Label(dlg::kStatusLineId));
        MarkWire();
        PressEveryListKey();
        EXPECT_TRUE(Wire().empty()) << "the disconnected view tries no write";
        EXPECT_FALSE(AnyPopupOpen());

        controller.FirstUnit().Plug();
        ASSERT_TRUE(WaitFor([&] { return ConnectedView(); }));
        EXPECT_EQ(dlg->focusWidget(), dlg->TabCtrl()->tabBar());
        MarkWire();
        PressEveryListKey();
        EXPECT_TRUE(Sets().empty()) << Sets().front();
        EXPECT_FALSE(AnyPopupOpen());
    }
}

TEST_F(HiddenControls, AListOnATabThatIsNotShownTakesNoKey)
{
    StartShown();
    UserSelectsTab(6);
    QComboBox* list = Combo(2037);  // Disconnect Type
    UserSelectsTab(0);
    ASSERT_TRUE(list->isHidden());
    const int before = list->currentIndex();
    MarkWire();
    for (Qt::Key key : kListKeys) {
        QTest::keyClick(list, key);  // straight to the list, as a stray event would come
    }
    Settle();
    EXPECT_EQ(list->currentIndex(), before);
    EXPECT_TRUE(Sets().empty());
    EXPECT_FALSE(AnyPopupOpen());
}

TEST_F(HiddenControls, TheControllerShownLeavesAndTheOtherOneIsReadShownAndWritten)
{
    StartShown();
    sim::VirtualUnit first = controller.FirstUnit();
    sim::VirtualUnit second = controller.Attach();
    Settle();  // the second one's arrival is handled: the first one found stays the one shown
    ASSERT_TRUE(ConnectedView());
    ASSERT_EQ(link.DevicePath(), first.Path());
    UserSelectsTab(3);

    MarkWire();
    first.Unplug();
    ASSERT_TRUE(WaitFor([&] { return link.DevicePath() == second.Path() && dlg->TabCtrl()->currentIndex() == 0; }));
    EXPECT_TRUE(ConnectedView());
    const auto wire = Wire();
    ASSERT_EQ(wire.size(), 2u) << "the other controller is read";
    EXPECT_TRUE(StartsWith(wire[0], "GET 04"));
    EXPECT_TRUE(StartsWith(wire[1], "GET 05"));

    // An edit goes to the controller shown.
    Edit(2004)->setFocus(Qt::TabFocusReason);
    Edit(2004)->selectAll();
    QTest::keyClicks(Edit(2004), "4321");
    QTest::keyClick(dlg->windowHandle(), Qt::Key_Tab);
    ASSERT_TRUE(WaitFor([&] { return second.Text({0, 5}) == "4321"; }));
    EXPECT_EQ(first.Text({0, 5}), "1234");

    // A controller not shown leaves: nothing changes and nothing is sent.
    first.Plug();
    ASSERT_TRUE(WaitFor([&] { return first.IsPlugged() && ConnectedView(); }));
    Settle();
    EXPECT_EQ(link.DevicePath(), second.Path()) << "the one shown stays the one written";
    MarkWire();
    first.Unplug();
    Settle();
    EXPECT_TRUE(Wire().empty());
    EXPECT_EQ(link.DevicePath(), second.Path());
}

TEST_F(HiddenControls, TabShortcutsSwitchTabsFromAnyControlAndChangeNoSetting)
{
    StartShown();
    UserSelectsTab(2);
    QComboBox* list = Combo(2016);
    list->setFocus(Qt::TabFocusReason);
    const int value = list->currentIndex();
    MarkWire();
    const std::pair<QKeyCombination, int> steps[] = {{Qt::CTRL | Qt::Key_PageDown, 3},
                                                     {Qt::CTRL | Qt::Key_PageUp, 2},
                                                     {Qt::CTRL | Qt::Key_Tab, 3},
                                                     {Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab, 2}};
    for (const auto& [keys, tab] : steps) {
        QTest::keyClick(dlg->windowHandle(), keys.key(), keys.keyboardModifiers());
        Settle();
        EXPECT_EQ(dlg->TabCtrl()->currentIndex(), tab);
    }
    EXPECT_EQ(list->currentIndex(), value);
    EXPECT_TRUE(Sets().empty());
    EXPECT_EQ(Wire().size(), 8u) << "each change of tab reads, as a click would";

    // Round from the last tab to the first, and nothing at all in the disconnected view.
    UserSelectsTab(6);
    QTest::keyClick(dlg->windowHandle(), Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(dlg->TabCtrl()->currentIndex(), 0);
    controller.FirstUnit().Unplug();
    ASSERT_TRUE(WaitFor([&] { return DisconnectedView(); }));
    MarkWire();
    QTest::keyClick(dlg->windowHandle(), Qt::Key_PageDown, Qt::ControlModifier);
    EXPECT_TRUE(Wire().empty());
}

}  // namespace

// The tab control's rules: attaching, showing one tab's controls, programmatic selection, the enable cascade.
#include "ui/stabctrl.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

bool Shown(const QWidget* w)
{
    return !w->isHidden();
}

struct TabCtrl : ::testing::Test {
    QWidget dialog;
    CSTabCtrl* tabs = new CSTabCtrl(&dialog);
    std::vector<QPushButton*> controls;

    void SetUp() override
    {
        for (int i = 0; i < 7; ++i) {
            tabs->InsertItem(i, QString("Tab %1").arg(i));
        }
    }

    QPushButton* NewControl()
    {
        controls.push_back(new QPushButton(&dialog));
        return controls.back();
    }

    // One control on each tab, controls[i] on tab i.
    void AttachOnePerTab()
    {
        for (int i = 0; i < 7; ++i) {
            ASSERT_TRUE(tabs->AddControl(NewControl(), i));
        }
    }

    // What a user's click does: the bar changes its current index.
    void UserSelects(int index) { tabs->tabBar()->setCurrentIndex(index); }
};

TEST_F(TabCtrl, AttachingHidesAndTheUpperBoundIsTheItemCount)
{
    QPushButton* six = NewControl();
    QPushButton* seven = NewControl();
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(tabs->AddControl(seven, 7));
    const std::string diagnostic = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(diagnostic.find("stabctrl"), std::string::npos) << diagnostic;
    EXPECT_TRUE(tabs->AddControl(six, 6));

    EXPECT_FALSE(Shown(six));
    EXPECT_TRUE(Shown(seven));  // refused: left alone
    for (int i = 0; i < 7; ++i) {
        tabs->SetCurSel(i);
        EXPECT_TRUE(Shown(seven));
    }
    tabs->SetCurSel(0);
    EXPECT_FALSE(Shown(six));
    tabs->SetCurSel(6);
    EXPECT_TRUE(Shown(six));
}

TEST(TabCtrlWithoutItems, EveryAttachIsRefused)
{
    QWidget dialog;
    auto* tabs = new CSTabCtrl(&dialog);
    auto* control = new QPushButton(&dialog);
    ::testing::internal::CaptureStderr();
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(tabs->AddControl(control, i));
    }
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(tabs->TabControls().ListCount(), 0u);
    EXPECT_TRUE(Shown(control));
}

TEST_F(TabCtrl, NegativeIndexIsAcceptedButNeverShownOrEnabled)
{
    QPushButton* stray = NewControl();
    EXPECT_TRUE(tabs->AddControl(stray, -1));
    EXPECT_FALSE(Shown(stray));
    for (int i = 0; i < 7; ++i) {
        tabs->SetCurSel(i);
        EXPECT_FALSE(Shown(stray)) << i;
    }
    stray->setEnabled(false);
    tabs->setEnabled(false);
    tabs->setEnabled(true);
    EXPECT_FALSE(stray->isEnabled());
}

TEST_F(TabCtrl, AControlOnTwoTabsShowsWithEither)
{
    AttachOnePerTab();
    QPushButton* shared = NewControl();
    tabs->AddControl(shared, 1);
    tabs->AddControl(shared, 3);
    tabs->SetCurSel(1);
    EXPECT_TRUE(Shown(shared));
    UserSelects(3);
    EXPECT_TRUE(Shown(shared));
    EXPECT_FALSE(Shown(controls[1]));
    EXPECT_TRUE(Shown(controls[3]));
    UserSelects(2);
    EXPECT_FALSE(Shown(shared));
}

TEST_F(TabCtrl, SelectionShowsOnlyTheSelectedTab)
{
    AttachOnePerTab();
    tabs->SetCurSel(4);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(Shown(controls[static_cast<std::size_t>(i)]), i == 4) << i;
    }
    EXPECT_EQ(tabs->CurrentTab(), 4);
    // Reselecting the current tab hides and shows its controls again: they end up visible.
    tabs->SetCurSel(4);
    EXPECT_TRUE(Shown(controls[4]));
}

TEST_F(TabCtrl, FirstSelectionHidesNothing)
{
    AttachOnePerTab();
    EXPECT_EQ(tabs->CurrentTab(), -1);
    controls[2]->show();  // shown by someone else before any selection
    tabs->SetCurSel(0);
    EXPECT_TRUE(Shown(controls[0]));
    EXPECT_TRUE(Shown(controls[2]));  // no tab was current, so nothing was hidden
}

TEST_F(TabCtrl, ATabWithNothingAttachedHidesThePreviousAndShowsNothing)
{
    QPushButton* onOne = NewControl();
    tabs->AddControl(onOne, 1);
    tabs->SetCurSel(1);
    ASSERT_TRUE(Shown(onOne));
    UserSelects(5);
    EXPECT_FALSE(Shown(onOne));
    EXPECT_EQ(tabs->CurrentTab(), 5);
}

TEST_F(TabCtrl, TheCascadeReachesHiddenTabsAndIndividuallyDisabledControls)
{
    AttachOnePerTab();
    tabs->SetCurSel(0);
    controls[5]->setEnabled(false);
    tabs->setEnabled(false);
    for (QPushButton* c : controls) {
        EXPECT_FALSE(c->isEnabled());
    }
    tabs->setEnabled(true);
    for (QPushButton* c : controls) {
        EXPECT_TRUE(c->isEnabled());
    }
}

TEST_F(TabCtrl, ProgrammaticSelectionDoesNotRunTheOwnersHandler)
{
    AttachOnePerTab();
    QSignalSpy owner(tabs, &CSTabCtrl::SelChange);
    EXPECT_EQ(tabs->SetCurSel(0), 0);
    EXPECT_EQ(tabs->SetCurSel(3), 0);
    EXPECT_EQ(owner.count(), 0);
    EXPECT_EQ(tabs->currentIndex(), 3);
    EXPECT_EQ(tabs->CurrentTab(), 3);
    EXPECT_TRUE(Shown(controls[3]));

    // A user's change runs both, the tab control's part first: the new tab's controls are visible by then.
    bool visibleWhenOwnerRan = false;
    QObject::connect(tabs, &CSTabCtrl::SelChange, [&] { visibleWhenOwnerRan = Shown(controls[6]); });
    UserSelects(6);
    EXPECT_EQ(owner.count(), 1);
    EXPECT_TRUE(visibleWhenOwnerRan);
}

TEST_F(TabCtrl, AClickOnATabIsAUserSelection)
{
    AttachOnePerTab();
    dialog.resize(700, 400);
    tabs->setGeometry(0, 0, 700, 300);
    dialog.show();
    tabs->SetCurSel(0);
    QSignalSpy owner(tabs, &CSTabCtrl::SelChange);
    QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, {}, tabs->tabBar()->tabRect(2).center());
    EXPECT_EQ(owner.count(), 1);
    EXPECT_TRUE(Shown(controls[2]));
    EXPECT_FALSE(Shown(controls[0]));
}

TEST_F(TabCtrl, ARefusedSelectionShowsTheTabTheControlReports)
{
    AttachOnePerTab();
    tabs->SetCurSel(2);
    EXPECT_EQ(tabs->SetCurSel(9), -1);
    EXPECT_EQ(tabs->CurrentTab(), 2);
    EXPECT_TRUE(Shown(controls[2]));
}

TEST_F(TabCtrl, AfterDestroyNoListRemainsAndControlsKeepTheirVisibility)
{
    AttachOnePerTab();
    tabs->SetCurSel(1);
    tabs->OnDestroy();
    EXPECT_EQ(tabs->TabControls().ListCount(), 0u);
    EXPECT_TRUE(Shown(controls[1]));
    EXPECT_FALSE(Shown(controls[0]));
}

TEST_F(TabCtrl, ADestroyedControlIsSkipped)
{
    AttachOnePerTab();
    delete controls[3];
    tabs->SetCurSel(3);
    tabs->setEnabled(false);
    tabs->setEnabled(true);
    EXPECT_EQ(tabs->CurrentTab(), 3);
}

}  // namespace

namespace {

// The keyboard focus on the tab bar shows: the highlight colour frames the current tab.
TEST_F(TabCtrl, TheFocusOnTheTabBarIsFramedInTheHighlightColour)
{
    dialog.resize(640, 400);
    tabs->setGeometry(10, 10, 600, 300);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    const QColor highlight = tabs->tabBar()->palette().color(QPalette::Highlight);
    auto framedPixels = [&] {
        const QImage image = tabs->tabBar()->grab().toImage();
        const QRect tab = tabs->tabBar()->tabRect(tabs->currentIndex());
        int n = 0;
        for (int x = tab.left(); x <= tab.right(); ++x) {
            n += image.pixelColor(x, tab.top() + 3) == highlight;
        }
        return n;
    };
    tabs->setFocus(Qt::OtherFocusReason);
    tabs->tabBar()->clearFocus();
    const int unfocused = framedPixels();
    tabs->tabBar()->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(tabs->tabBar()->hasFocus());
    EXPECT_GT(framedPixels(), unfocused + tabs->tabBar()->tabRect(0).width() / 2);
}

}  // namespace

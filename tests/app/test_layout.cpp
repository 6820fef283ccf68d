// The main dialog's controls, their places and flags, its keys and ways of closing, and the choice lists.
#include "portable/system.h"
#include "settings/catalogue.h"
#include "tests/app/dialog_fixture.h"

#include <QProgressBar>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOptionComboBox>
#include <QStyleOptionTab>
#include <QTabBar>

namespace {

enum class K { ReadOnly, Entry, Choice, Button };

struct Expected {
    int id;
    K kind;
    int left, top, right, bottom;
    int tab;
};

const Expected kControls[] = {
    {2000, K::ReadOnly, 240, 100, 570, 124, 0}, {2001, K::ReadOnly, 240, 140, 390, 164, 0},
    {2005, K::Button, 420, 140, 570, 164, 0},   {2002, K::ReadOnly, 240, 180, 570, 204, 0},
    {2003, K::ReadOnly, 240, 220, 570, 244, 0}, {2004, K::Entry, 240, 260, 570, 284, 0},
    {2006, K::Button, 270, 300, 540, 324, 0},   {2008, K::Choice, 240, 100, 570, 225, 1},
    {2009, K::Choice, 240, 140, 570, 265, 1},   {2010, K::Choice, 240, 180, 570, 305, 1},
    {2011, K::Choice, 240, 220, 570, 345, 1},   {2012, K::Entry, 240, 260, 570, 284, 1},
    {2013, K::Choice, 240, 300, 570, 425, 1},   {2014, K::Choice, 240, 100, 570, 225, 2},
    {2015, K::Choice, 240, 140, 570, 265, 2},   {2016, K::Choice, 240, 180, 570, 305, 2},
    {2017, K::Choice, 240, 220, 570, 345, 2},   {2018, K::Choice, 240, 260, 570, 385, 2},
    {2019, K::Entry, 240, 100, 570, 124, 3},    {2020, K::Choice, 240, 140, 570, 265, 3},
    {2021, K::Choice, 240, 180, 570, 305, 3},   {2022, K::Entry, 240, 220, 570, 244, 3},
    {2023, K::Entry, 240, 260, 570, 284, 3},    {2024, K::Choice, 240, 300, 570, 425, 3},
    {2025, K::Entry, 240, 340, 570, 364, 3},    {2026, K::Choice, 240, 100, 570, 225, 4},
    {2027, K::Choice, 240, 140, 570, 265, 4},   {2028, K::Choice, 240, 180, 570, 305, 4},
    {2029, K::Choice, 240, 220, 570, 345, 4},   {2030, K::Choice, 240, 260, 570, 385, 4},
    {2031, K::Choice, 240, 300, 570, 425, 4},   {2032, K::Choice, 240, 340, 570, 465, 4},
    {2033, K::Choice, 240, 380, 570, 505, 4},   {2034, K::Choice, 240, 100, 570, 225, 5},
    {2035, K::Choice, 240, 140, 570, 265, 5},   {2036, K::Entry, 240, 180, 570, 204, 5},
    {2037, K::Choice, 240, 100, 570, 225, 6},   {2038, K::Choice, 240, 140, 570, 265, 6},
    {2039, K::Choice, 240, 180, 570, 305, 6},   {2040, K::Choice, 240, 220, 570, 345, 6},
    {2041, K::Choice, 240, 260, 570, 385, 6},
};

QRect R(int l, int t, int r, int b)
{
    return QRect(l, t, r - l, b - t);
}

bool AttachedTo(CSTabCtrl* tabs, QWidget* w, int tab)
{
    const CTabControlList* list = tabs->TabControls().List(tab);
    if (!list) {
        return false;
    }
    for (const QPointer<QWidget>& c : list->Controls()) {
        if (c == w) {
            return true;
        }
    }
    return false;
}

using Layout = DialogFixture;

TEST_F(Layout, EveryValueControlHasItsPlaceKindTabAndSlot)
{
    controller.FirstUnit().Unplug();  // nothing read, so the edits keep their initial text
    Start();
    for (std::size_t slot = 0; slot < std::size(kControls); ++slot) {
        const Expected& x = kControls[slot];
        SCOPED_TRACE(x.id);
        QWidget* w = dlg->GetDlgItem(x.id);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(dlg->Registry()[slot].data(), w);
        EXPECT_EQ(w->parentWidget(), dlg.get());
        const QRect rect = R(x.left, x.top, x.right, x.bottom);
        switch (x.kind) {
        case K::ReadOnly:
        case K::Entry: {
            auto* edit = qobject_cast<QLineEdit*>(w);
            ASSERT_NE(edit, nullptr);
            EXPECT_EQ(edit->isReadOnly(), x.kind == K::ReadOnly);
            EXPECT_EQ(edit->geometry(), rect);
            EXPECT_EQ(edit->text(), "");
            EXPECT_EQ(bool(edit->focusPolicy() & Qt::TabFocus), x.kind == K::Entry);
            break;
        }
        case K::Choice: {
            auto* combo = qobject_cast<QComboBox*>(w);
            ASSERT_NE(combo, nullptr);
            EXPECT_FALSE(combo->isEditable());
            // The closed field is as tall as the platform makes it; the rest is the drop-down's room.
            EXPECT_EQ(combo->geometry().topLeft(), rect.topLeft());
            EXPECT_EQ(combo->width(), rect.width());
            EXPECT_EQ(combo->property("dropRect").toRect(), rect);
            EXPECT_TRUE(combo->focusPolicy() & Qt::TabFocus);
            break;
        }
        case K::Button: {
            auto* button = qobject_cast<QPushButton*>(w);
            ASSERT_NE(button, nullptr);
            EXPECT_EQ(button->geometry(), rect);
            EXPECT_TRUE(button->focusPolicy() & Qt::TabFocus);
            EXPECT_FALSE(button->autoDefault());
            break;
        }
        }
        for (int tab = 0; tab < 7; ++tab) {
            EXPECT_EQ(AttachedTo(dlg->TabCtrl(), w, tab), tab == x.tab) << "tab " << tab;
        }
    }
    EXPECT_EQ(Item<QPushButton>(2005)->text(), "Install FW");
    EXPECT_EQ(Item<QPushButton>(2006)->text(), "Restore All Default Settings");
    for (int slot = 41; slot < 2043; ++slot) {
        EXPECT_TRUE(dlg->Registry()[static_cast<std::size_t>(slot)].isNull()) << slot;
    }
    EXPECT_EQ(dlg->GetDlgItem(2042), nullptr);
    EXPECT_EQ(dlg->GetDlgItem(2043), nullptr);
}

TEST_F(Layout, LabelsLinesTabControlAndCloseButton)
{
    Start();
    const int labelIds[] = {1001, 1002, 1003, 1004, 1005, 1006, 1010, 1011};
    const std::vector<std::vector<int>> tabsOf = {{0, 1, 2, 3, 4, 5, 6},
                                                  {0, 1, 2, 3, 4, 5, 6},
                                                  {0, 1, 2, 3, 4, 5, 6},
                                                  {0, 1, 2, 3, 4, 6},
                                                  {0, 1, 2, 3, 4, 6},
                                                  {1, 3, 4},
                                                  {3, 4},
                                                  {4}};
    for (int i = 0; i < 8; ++i) {
        QLabel* label = Label(labelIds[i]);
        const int row = i + 1;
        EXPECT_EQ(label->geometry(), R(40, 65 + 40 * row, 225, 84 + 40 * row)) << labelIds[i];
        EXPECT_TRUE(label->alignment() & Qt::AlignRight);
        EXPECT_EQ(label->font(), dlg->UiFont());
        EXPECT_EQ(label->focusPolicy(), Qt::NoFocus);
        for (int tab = 0; tab < 7; ++tab) {
            const auto& tabs = tabsOf[static_cast<std::size_t>(i)];
            EXPECT_EQ(AttachedTo(dlg->TabCtrl(), label, tab), std::find(tabs.begin(), tabs.end(), tab) != tabs.end());
        }
    }
    CSTabCtrl* tabs = dlg->TabCtrl();
    EXPECT_EQ(dlg->GetDlgItem(2044), tabs);
    EXPECT_EQ(tabs->geometry(), R(15, 30, 650, 445));
    ASSERT_EQ(tabs->count(), 7);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(tabs->tabText(i), kTabNames[static_cast<std::size_t>(i)]);
    }
    EXPECT_TRUE(tabs->focusPolicy() & Qt::TabFocus);
    EXPECT_EQ(tabs->font(), dlg->UiFont());

    auto* progress = Item<QProgressBar>(2007);
    EXPECT_EQ(progress->geometry(), R(400, 140, 570, 164));
    EXPECT_EQ(progress->minimum(), 0);
    EXPECT_EQ(progress->maximum(), 100);
    EXPECT_TRUE(progress->isHidden());

    EXPECT_EQ(Label(1009)->geometry(), R(10, 145, 655, 224));
    EXPECT_TRUE(Label(1009)->alignment() & Qt::AlignHCenter);
    EXPECT_EQ(Label(1008)->geometry(), R(40, 468, 220, 492));
    EXPECT_EQ(Label(1008)->text(), "Version 2.01 (June 2/15)");
    EXPECT_EQ(Label(1008)->font(), dlg->UiFont());
    EXPECT_EQ(Label(1007)->geometry(), R(240, 468, 440, 492));
    auto* close = Item<QPushButton>(1);
    EXPECT_EQ(close->geometry(), R(575, 463, 650, 487));
    EXPECT_EQ(close->text(), "Close");
    EXPECT_FALSE(close->focusPolicy() & Qt::TabFocus);
    EXPECT_FALSE(close->autoDefault());
    EXPECT_EQ(close->font(), dlg->UiFont());
    // Read-only fields and value controls keep the platform's default font.
    EXPECT_NE(Edit(2000)->font(), dlg->UiFont());
}

TEST_F(Layout, RightAfterCreationOnlyTheFrameIsVisible)
{
    DialogHooks hooks = Hooks();
    std::vector<int> wronglyShown;
    std::vector<int> wronglyHidden;
    std::string versionText;
    hooks.afterCreateControls = [&](CDoorphoneConfigDlg& d) {
        for (int id : {1001, 1002, 1003, 1004, 1005, 1006, 1010, 1011, 2007}) {
            if (!d.GetDlgItem(id)->isHidden()) {
                wronglyShown.push_back(id);
            }
        }
        for (int id = 2000; id <= 2041; ++id) {
            if (d.GetDlgItem(id) && !d.GetDlgItem(id)->isHidden()) {
                wronglyShown.push_back(id);
            }
        }
        for (int id : {2044, 1009, 1008, 1007, 1}) {
            if (d.GetDlgItem(id)->isHidden()) {
                wronglyHidden.push_back(id);
            }
        }
        versionText = d.Item<QLabel>(1008)->text().toStdString();
    };
    Start(hooks);
    EXPECT_TRUE(wronglyShown.empty()) << wronglyShown.front();
    EXPECT_TRUE(wronglyHidden.empty()) << wronglyHidden.front();
    EXPECT_EQ(versionText, "Version 2.01 (June 2/15)");  // "init 2" never stays
}

TEST_F(Layout, MovingFromTab2ToTab5)
{
    Start();
    UserSelectsTab(2);
    UserSelectsTab(5);
    for (int id : {1004, 1005, 2014, 2015, 2016, 2017, 2018}) {
        EXPECT_FALSE(Shown(id)) << id;
    }
    for (int id : {1001, 1002, 1003, 2034, 2035, 2036}) {
        EXPECT_TRUE(Shown(id)) << id;
    }
    EXPECT_EQ(Label(1003)->text(), "Ring this Number Instead");
}

TEST_F(Layout, EveryTabTitleIsWhole)
{
    if constexpr (portable::kWindows) {
        GTEST_SKIP() << "Qt's offscreen platform on Windows lays text out in a fallback font far wider than a "
                        "desktop's; the Linux build measures the layout";
    }
    StartShown();
    QTabBar* bar = dlg->TabCtrl()->tabBar();
    EXPECT_FALSE(dlg->TabCtrl()->usesScrollButtons());
    EXPECT_EQ(dlg->TabCtrl()->elideMode(), Qt::ElideNone);
    const QFontMetrics metrics(bar->font());
    for (int i = 0; i < bar->count(); ++i) {
        EXPECT_GE(bar->tabRect(i).width(), metrics.horizontalAdvance(bar->tabText(i))) << i;
    }
    EXPECT_LE(bar->tabRect(bar->count() - 1).right(), bar->width());
}

TEST_F(Layout, TheWindowIsFixedAndHasNoMaximiseButton)
{
    Start();
    EXPECT_EQ(dlg->minimumSize(), QSize(664, 501));
    EXPECT_EQ(dlg->maximumSize(), QSize(664, 501));
    EXPECT_FALSE(dlg->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(dlg->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(dlg->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(dlg->windowTitle(), "Tavrel 7410 Doorphone Configuration Tool");
    EXPECT_FALSE(dlg->windowIcon().isNull());
    EXPECT_TRUE(dlg->windowIcon().availableSizes().contains(QSize(16, 16)));
    EXPECT_TRUE(dlg->windowIcon().availableSizes().contains(QSize(32, 32)));
}

TEST_F(Layout, StatusLineWithoutAController)
{
    controller.FirstUnit().Unplug();
    Start();
    EXPECT_EQ(Label(1009)->text(), "Please connect your device now");
    EXPECT_TRUE(Shown(1009));
    EXPECT_EQ(Label(1009)->font().pointSize(), 12);
    EXPECT_TRUE(Label(1009)->font().bold());
    EXPECT_EQ(Label(1007)->text(), "Device Disconnected");
}

TEST_F(Layout, EnterAndEscapeLeaveTheWindowOpen)
{
    StartShown();
    Edit(2004)->setFocus();
    for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        QTest::keyClick(Edit(2004), static_cast<Qt::Key>(key));
        QTest::keyClick(dlg.get(), static_cast<Qt::Key>(key));
    }
    Settle();
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), 0);
}

TEST_F(Layout, CloseButtonAccepts)
{
    StartShown();
    QTest::mouseClick(Item<QPushButton>(1), Qt::LeftButton);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
}

TEST_F(Layout, TheWindowsCloseCommandRejects)
{
    StartShown();
    dlg->setResult(-1);
    dlg->close();
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), QDialog::Rejected);
}

TEST_F(Layout, ChoiceListsAreFilledInOrderWithNothingSelected)
{
    Start();
    for (const CatalogueEntry& e : ParameterCatalogue()) {
        if (e.kind != EntryKind::Choice) {
            continue;
        }
        QComboBox* combo = Combo(e.controlId);
        const std::vector<std::string> entries = e.list->Entries();
        ASSERT_EQ(combo->count(), static_cast<int>(entries.size())) << e.controlId;
        for (int i = 0; i < combo->count(); ++i) {
            EXPECT_EQ(combo->itemText(i).toStdString(), entries[static_cast<std::size_t>(i)]);
        }
        EXPECT_EQ(combo->currentIndex(), -1) << e.controlId;
    }
    EXPECT_EQ(Combo(2020)->itemText(2), "2 Seconds");
    EXPECT_EQ(Combo(2020)->itemText(30), "30 Seconds");
}

TEST_F(Layout, TheRegistrationIsReleasedBeforeTheControlsAreDestroyed)
{
    struct Watching : HotplugMonitor {
        QPointer<QWidget> control;
        bool* controlAliveAtRelease;
        portable::Wakeup ready;
        Watching(bool* flag) : controlAliveAtRelease(flag) {}
        ~Watching() override { *controlAliveAtRelease = !control.isNull(); }
        portable::WaitHandle Waitable() const override { return ready.Handle(); }
        std::vector<HotplugEvent> ReadEvents() override { return {}; }
    };
    bool aliveAtRelease = false;
    Watching* monitor = nullptr;
    dlg = std::make_unique<CDoorphoneConfigDlg>(
        session,
        [&] {
            auto m = std::make_unique<Watching>(&aliveAtRelease);
            monitor = m.get();
            return m;
        },
        Hooks());
    ASSERT_NE(monitor, nullptr);
    monitor->control = dlg->GetDlgItem(2000);
    EXPECT_TRUE(dlg->IsRegisteredForNotifications());
    dlg.reset();
    EXPECT_TRUE(aliveAtRelease);
}

}  // namespace

namespace {

TEST_F(Layout, EverySettingControlIsFoundByItsKeyAndReadByItsLabel)
{
    Start();
    for (const CatalogueEntry& entry : ParameterCatalogue()) {
        SCOPED_TRACE(entry.key);
        auto* control = dlg->findChild<QWidget*>(QString::fromUtf8(entry.key));
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control, dlg->GetDlgItem(entry.controlId));
        EXPECT_EQ(control->accessibleName(), QString::fromUtf8(entry.label));
    }
}

}  // namespace

namespace {

// Desktops with the common styles and a 13-point font: every tab title and every value stays whole.
class LayoutUnderStyle : public Layout, public ::testing::WithParamInterface<const char*> {};

TEST_P(LayoutUnderStyle, WithALargeDesktopFontNothingIsCut)
{
    if constexpr (portable::kWindows) {
        GTEST_SKIP() << "Qt's offscreen platform on Windows lays text out in a fallback font far wider than a "
                        "desktop's; the Linux build measures the layout";
    }
    if (!QStyleFactory::keys().contains(GetParam(), Qt::CaseInsensitive)) {
        GTEST_SKIP() << GetParam() << " is not installed";
    }
    const QFont desktop = QApplication::font();
    const QString style = QApplication::style()->name();  // setStyle deletes the style in use
    QApplication::setStyle(GetParam());
    QFont large = desktop;
    large.setPointSize(13);
    QApplication::setFont(large);
    Start();
    dlg->show();
    for (const CatalogueEntry& entry : ParameterCatalogue()) {
        if (entry.kind != EntryKind::Choice) {
            continue;
        }
        QComboBox* combo = Combo(entry.controlId);
        const QFontMetrics metrics(combo->font());
        for (int i = 0; i < combo->count(); ++i) {
            QStyleOptionComboBox option;
            option.initFrom(combo);
            const QRect text =
                combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo);
            EXPECT_LE(metrics.horizontalAdvance(combo->itemText(i)), text.width()) << entry.key << ": " << i;
        }
    }
    const QFontMetrics values(Edit(2004)->font());
    EXPECT_LE(values.height(), Edit(2004)->height() - 4);
    // The titles at the dialog's 8-point font, never smaller, each whole inside its tab and its text's room.
    const QTabBar* bar = dlg->TabCtrl()->tabBar();
    EXPECT_GE(bar->font().pointSizeF(), dlg->UiFont().pointSizeF());
    EXPECT_GE(bar->font().pointSizeF(), 8.0);
    for (int i = 0; i < kTabCount; ++i) {
        const int title = QFontMetrics(bar->font()).horizontalAdvance(bar->tabText(i));
        EXPECT_LE(title, bar->tabRect(i).width()) << i;
        QStyleOptionTab option;
        option.initFrom(bar);
        option.rect = bar->tabRect(i);
        option.text = bar->tabText(i);
        option.shape = bar->shape();
        const QRect room = bar->style()->subElementRect(QStyle::SE_TabBarTabText, &option, bar);
        EXPECT_LE(title, room.width()) << i;
        EXPECT_LE(bar->tabRect(i).right(), bar->width());
    }
    EXPECT_LE(bar->sizeHint().width(), dlg->TabCtrl()->width());
    // A closed choice list is one row high, as an edit is, under every style.
    EXPECT_LE(Combo(2008)->height(), Edit(2004)->height()) << GetParam();
    dlg.reset();
    QApplication::setFont(desktop);
    QApplication::setStyle(style);
}

INSTANTIATE_TEST_SUITE_P(CommonStyles, LayoutUnderStyle, ::testing::Values("Fusion", "Adwaita", "Windows"));

}  // namespace

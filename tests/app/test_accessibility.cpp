// What a screen reader announces for each value control, through Qt's accessibility interfaces: its row
// label on every tab, also after the labels change with the attached station.
#include "tests/app/dialog_fixture.h"

#include "settings/catalogue.h"

#include <QAccessible>
#include <QProgressBar>

#include <gmock/gmock.h>

namespace {

using ::testing::HasSubstr;

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

TEST_F(Accessibility, TheProgressBarHasAName)
{
    Start();
    EXPECT_THAT(Announced(dlg->GetDlgItem(dlg::kProgressBarId)), HasSubstr("Firmware install progress"));
}

}  // namespace

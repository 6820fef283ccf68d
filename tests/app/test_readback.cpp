// Every tab shows what the controller holds; odd reports are shown safely; failed reads leave the screen.
#include "device/reports.h"
#include "settings/catalogue.h"
#include "tests/app/dialog_fixture.h"

namespace {

struct Readback : DialogFixture {
    // The settings and string-pool reports as the controller would answer now.
    ReportBytes Report(uint8_t id)
    {
        ReportBytes r{};
        r[0] = id;
        EXPECT_TRUE(link.GetFeature(r.data(), r.size()));
        return r;
    }
    void Answer(const ReportBytes& r)
    {
        controller.FirstUnit().AnswerNextGet(r[0], std::vector<uint8_t>(r.begin(), r.end()));
    }

    // Shows tab 0 afresh, as a user going to another tab and back does.
    void ReadMaintenance()
    {
        UserSelectsTab(1);
        UserSelectsTab(0);
    }
};

TEST_F(Readback, MaintenanceTab)
{
    Start();
    EXPECT_EQ(Edit(2000)->text(), "  Version 1.05.2");
    EXPECT_EQ(Edit(2001)->text(), "  Version 2.01.0");
    EXPECT_EQ(Edit(2002)->text(), "  Model 7407   Version 3");
    EXPECT_EQ(Edit(2003)->text(), "  74%");
    EXPECT_EQ(Edit(2004)->text(), "1234");
    EXPECT_EQ(Label(1001)->text(), "Firmware Detected");
    EXPECT_EQ(Label(1005)->text(), "DTMF Password");
    EXPECT_EQ(Label(1006)->text(), "");

    controller.FirstUnit().SetFirmware(0x20, 0x10);
    controller.FirstUnit().SetStation(0x15);
    ReadMaintenance();
    EXPECT_EQ(Edit(2000)->text(), "  Version 2.01.0");
    EXPECT_EQ(Edit(2002)->text(), "  Model 7401   Version 5");
    EXPECT_EQ(dlg->StationModel(), 1);

    controller.FirstUnit().SetFirmware(0x1F, 0xF3);
    controller.FirstUnit().SetStation(0x00);
    ReadMaintenance();
    EXPECT_EQ(Edit(2000)->text(), "  Version 1.255.3");
    EXPECT_EQ(Edit(2002)->text(), "  None Connected.");
}

TEST_F(Readback, LineLevelEdgesAndNoStationBelowOnePercent)
{
    Start();
    const std::pair<int, const char*> levels[] = {{0, "  100%"}, {128, "  49%"}, {252, "  1%"},
                                                  {253, "  0%"}, {254, "  0%"},  {255, "  0%"}};
    for (auto [byte, text] : levels) {
        controller.FirstUnit().SetLineLevel(static_cast<uint8_t>(byte));
        ReadMaintenance();
        EXPECT_EQ(Edit(2003)->text(), text) << byte;
        EXPECT_EQ(Edit(2002)->text(), byte >= 253 ? "  None Connected." : "  Model 7407   Version 3") << byte;
        EXPECT_EQ(dlg->StationModel(), 7);
    }
}

TEST_F(Readback, EveryTabShowsTheControllersValues)
{
    Start();
    // Every choice at its last entry, every text at a distinct value.
    sim::Memory m = controller.FirstUnit().GetMemory();
    for (const CatalogueEntry& e : ParameterCatalogue()) {
        if (e.kind == EntryKind::Choice) {
            m.choices[e.settingsByte] = static_cast<uint8_t>(e.list->Size() - 1);
        } else if (e.kind == EntryKind::Text) {
            m.texts[e.settingsByte] =
                std::string(static_cast<std::size_t>(e.maxLength), static_cast<char>('0' + e.row));
        }
    }
    m.choices[55] = 0;  // Loop Current, so Loop Disconnect is enabled
    controller.FirstUnit().SetMemory(m);
    for (int tab = 1; tab < 7; ++tab) {
        UserSelectsTab(tab);
        for (const CatalogueEntry* e : EntriesOfTab(tab)) {
            SCOPED_TRACE(e->key);
            if (e->kind == EntryKind::Choice) {
                EXPECT_EQ(Combo(e->controlId)->currentIndex(), m.choices[e->settingsByte]);
            } else {
                EXPECT_EQ(Edit(e->controlId)->text().toStdString(), m.texts[e->settingsByte]);
            }
            EXPECT_TRUE(Shown(e->controlId));
        }
        for (const RowLabel& label : RowLabelsOfTab(tab)) {
            const int id = dlg::kRowLabelIds[static_cast<std::size_t>(label.row - 1)];
            EXPECT_EQ(Label(id)->text(), label.text);
        }
    }
    EXPECT_TRUE(Combo(2038)->isEnabled());
}

TEST_F(Readback, LoopDisconnectIsEnabledOnlyForLoopCurrent)
{
    Start();
    for (int type : {1, 2, 0}) {
        link.SendNumericParameter(6, 1, type);
        link.SendNumericParameter(6, 2, 4);
        UserSelectsTab(5);
        UserSelectsTab(6);
        EXPECT_EQ(Combo(2038)->currentIndex(), 4);
        EXPECT_EQ(Combo(2038)->isEnabled(), type == 0) << type;
    }
}

TEST_F(Readback, APositionBeyondItsListShowsNoSelection)
{
    Start();
    UserSelectsTab(2);
    ASSERT_EQ(Combo(2014)->currentIndex(), 5);
    ReportBytes odd = Report(4);
    odd[19] = 255;  // Speaker Volume, 11 entries
    odd[21] = 1;
    odd[22] = 2;  // Microphone AGC, 2 entries
    Answer(odd);
    UserSelectsTab(1);
    Answer(odd);
    UserSelectsTab(2);
    EXPECT_EQ(Combo(2014)->currentIndex(), -1);
    EXPECT_EQ(Combo(2016)->currentIndex(), 1);
    EXPECT_EQ(Combo(2017)->currentIndex(), -1);
    EXPECT_TRUE(Sets().empty());  // showing values never writes
}

TEST_F(Readback, StringPoolTextsAtTheirPositionsAndWithinTheReport)
{
    Start();
    UserSelectsTab(2);
    ReportBytes s = Report(4);
    ReportBytes pool{};
    pool[0] = 5;
    const std::string digits = "0123";
    std::copy(digits.begin(), digits.end(), pool.begin() + 12);  // zero follows at 16
    pool[1] = '7';
    pool[2] = '8';
    for (std::size_t i = 40; i < 63; ++i) {
        pool[i] = '9';  // no zero before the end
    }
    s[14] = 12;  // Outgoing Dial Number
    Answer(s);
    Answer(pool);
    UserSelectsTab(1);
    EXPECT_EQ(Edit(2012)->text(), "0123");

    s[14] = 1;
    Answer(s);
    Answer(pool);
    UserSelectsTab(0);
    Answer(s);
    Answer(pool);
    UserSelectsTab(1);
    EXPECT_EQ(Edit(2012)->text(), "78");

    s[28] = 60;   // Open Code: cut at the report's end
    s[31] = 63;   // Latch Open Code: beyond the report
    s[32] = 200;  // Release Code
    Answer(s);
    Answer(pool);
    UserSelectsTab(3);
    EXPECT_EQ(Edit(2019)->text(), "999");
    EXPECT_EQ(Edit(2022)->text(), "");
    EXPECT_EQ(Edit(2023)->text(), "");
}

TEST_F(Readback, StationOnlyRowsFollowTheLastAndTheNewModel)
{
    Start();  // the 7407 was read on tab 0
    ASSERT_EQ(dlg->StationModel(), 7);
    controller.FirstUnit().SetStation(0x15);
    UserSelectsTab(1);
    // The label follows the model read before, the control the model read now.
    EXPECT_EQ(Label(1006)->text(), "7407 Keypad Dial String Length");
    EXPECT_FALSE(Shown(2013));
    UserSelectsTab(2);
    UserSelectsTab(1);
    EXPECT_EQ(Label(1006)->text(), "");
    EXPECT_FALSE(Shown(2013));

    controller.FirstUnit().SetStation(0x73);
    UserSelectsTab(4);
    EXPECT_EQ(Label(1006)->text(), "");
    EXPECT_TRUE(Shown(2031));
    EXPECT_TRUE(Shown(2032));
    EXPECT_TRUE(Shown(2033));
    UserSelectsTab(3);
    EXPECT_EQ(Label(1010)->text(), "7407 Employee Access Code");
    EXPECT_TRUE(Shown(2025));
    // Station-only controls are filled even while hidden.
    link.SendStringParameter(3, 7, 3, "321");
    controller.FirstUnit().SetStation(0x00);
    UserSelectsTab(4);
    UserSelectsTab(3);
    EXPECT_FALSE(Shown(2025));
    EXPECT_EQ(Edit(2025)->text(), "321");
}

TEST_F(Readback, AFailedReadLeavesTheControlsAsTheyWere)
{
    Start();
    UserSelectsTab(2);
    ASSERT_EQ(Combo(2014)->currentIndex(), 5);
    link.SendNumericParameter(2, 1, 9);
    UserSelectsTab(1);
    controller.FirstUnit().FailNthTransfer(1);  // the settings read of tab 2
    UserSelectsTab(2);
    EXPECT_EQ(Combo(2014)->currentIndex(), 5);
    EXPECT_EQ(Label(1001)->text(), "Speaker Volume");
    EXPECT_TRUE(Shown(2014));

    controller.FirstUnit().FailNthTransfer(2);  // the string-pool read, after the settings arrived
    UserSelectsTab(1);
    UserSelectsTab(2);
    EXPECT_EQ(Combo(2014)->currentIndex(), 9);  // tab 1's failed read showed nothing, tab 2's read went through

    controller.FirstUnit().SetStation(0x00);
    controller.FirstUnit().FailNthTransfer(2);
    UserSelectsTab(1);
    EXPECT_TRUE(Shown(2013));  // model unchanged by the incomplete read: stays as the tab control left it
    EXPECT_EQ(dlg->StationModel(), 7);
}

}  // namespace

// The catalogue against the controller's documented layout: every row, every list.
#include "settings/catalogue.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <string>

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

struct Row {
    int id;
    int tab;
    int row;
    EntryKind kind;
    int byte;
    const char* label;
    int listSize;   // choices
    int maxLength;  // texts
    bool stationOnly;
};

constexpr EntryKind S = EntryKind::Status, C = EntryKind::Choice, T = EntryKind::Text;

const Row kExpected[] = {
    {2000, 0, 1, S, 1, "Firmware Detected", 0, 0, false},
    {2001, 0, 2, S, -1, "Firmware Available", 0, 0, false},
    {2002, 0, 3, S, 3, "Station Type", 0, 0, false},
    {2003, 0, 4, S, 4, "Connection", 0, 0, false},
    {2004, 0, 5, T, 5, "DTMF Password", 0, 4, false},
    {2008, 1, 1, C, 10, "Outgoing Call Mode", 5, 0, false},
    {2009, 1, 2, C, 11, "Incoming Call Mode", 3, 0, false},
    {2010, 1, 3, C, 12, "Outgoing Ring Limit", 11, 0, false},
    {2011, 1, 4, C, 13, "Cancel Ring if Door Opened", 2, 0, false},
    {2012, 1, 5, T, 14, "Outgoing Dial Number", 0, 16, false},
    {2013, 1, 6, C, 15, "7407 Keypad Dial String Length", 16, 0, true},
    {2014, 2, 1, C, 19, "Speaker Volume", 11, 0, false},
    {2015, 2, 2, C, 20, "Microphone Level", 11, 0, false},
    {2016, 2, 3, C, 21, "DSP", 2, 0, false},
    {2017, 2, 4, C, 22, "Microphone AGC", 2, 0, false},
    {2018, 2, 5, C, 23, "Door Unlock Tone", 3, 0, false},
    {2019, 3, 1, T, 28, "Open Code", 0, 4, false},
    {2020, 3, 2, C, 29, "Relay Time", 31, 0, false},
    {2021, 3, 3, C, 30, "Cancel with Door Open", 2, 0, false},
    {2022, 3, 4, T, 31, "Latch Open Code", 0, 4, false},
    {2023, 3, 5, T, 32, "Release Code", 0, 4, false},
    {2024, 3, 6, C, 33, "End Call After DTMF", 2, 0, false},
    {2025, 3, 7, T, 34, "7407 Employee Access Code", 0, 8, true},
    {2026, 4, 1, C, 37, "Controller Output", 9, 0, false},
    {2027, 4, 2, C, 38, "Station Output", 9, 0, false},
    {2028, 4, 3, C, 39, "Door Relay Output", 9, 0, false},
    {2029, 4, 4, C, 40, "Controller Input", 7, 0, false},
    {2030, 4, 5, C, 41, "Station Input", 5, 0, false},
    {2031, 4, 6, C, 42, "7407 Call Button", 3, 0, true},
    {2032, 4, 7, C, 43, "7407 Keypad Backlight", 2, 0, true},
    {2033, 4, 8, C, 44, "7407 Backlight Brightness", 2, 0, true},
    {2034, 5, 1, C, 46, "Max Door Open Time", 8, 0, false},
    {2035, 5, 2, C, 47, "Ring Phone Upon Door Alarm", 5, 0, false},
    {2036, 5, 3, T, 48, "Ring this Number Instead", 0, 10, false},
    {2037, 6, 1, C, 55, "Disconnect Type", 3, 0, false},
    {2038, 6, 2, C, 56, "Loop Disconnect", 5, 0, false},
    {2039, 6, 3, C, 57, "VOX Timeout", 6, 0, false},
    {2040, 6, 4, C, 58, "Call Limit", 9, 0, false},
    {2041, 6, 5, C, 59, "Allow Call Button to End Call", 3, 0, false},
};

TEST(Catalogue, EveryRowMatchesTheLayout)
{
    ASSERT_EQ(ParameterCatalogue().size(), std::size(kExpected));
    for (const Row& x : kExpected) {
        SCOPED_TRACE(x.id);
        const CatalogueEntry* e = FindEntryByControlId(x.id);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->tab, x.tab);
        EXPECT_EQ(e->row, x.row);
        EXPECT_EQ(e->kind, x.kind);
        EXPECT_EQ(e->settingsByte, x.byte);
        EXPECT_STREQ(e->label, x.label);
        EXPECT_EQ(e->address, (ParameterAddress{x.tab, x.row}));
        EXPECT_EQ(e->stationOnly, x.stationOnly);
        if (x.kind == C) {
            ASSERT_NE(e->list, nullptr);
            EXPECT_EQ(e->list->Size(), x.listSize);
            EXPECT_EQ(e->settingsByte, 9 * e->address.group + e->address.index);
        } else {
            EXPECT_EQ(e->list, nullptr);
        }
        if (x.kind == T) {
            EXPECT_EQ(e->maxLength, x.maxLength);
        }
        EXPECT_EQ(e->stationOnly, std::string(e->label).rfind("7407 ", 0) == 0);
    }
}

TEST(Catalogue, IdsOutsideTheTableHaveNoRow)
{
    for (int id : {1, 1001, 2005, 2006, 2007, 2042, 2043, 2044}) {
        EXPECT_EQ(FindEntryByControlId(id), nullptr) << id;
    }
}

TEST(Catalogue, AddressLookupFindsOnlySettings)
{
    EXPECT_EQ(FindEntryByAddress({2, 1})->controlId, 2014);
    EXPECT_EQ(FindEntryByAddress({0, 5})->controlId, 2004);
    EXPECT_EQ(FindEntryByAddress({0, 1}), nullptr);  // status field
    EXPECT_EQ(FindEntryByAddress({1, 7}), nullptr);
    EXPECT_EQ(FindEntryByAddress({5, 4}), nullptr);
}

TEST(Catalogue, KeysAreUniqueAndFound)
{
    std::set<std::string> keys;
    for (const CatalogueEntry& e : ParameterCatalogue()) {
        EXPECT_TRUE(keys.insert(e.key).second) << e.key;
        EXPECT_EQ(FindEntryByKey(e.key), &e);
    }
    EXPECT_EQ(FindEntryByKey("dial.nothing"), nullptr);
}

TEST(Catalogue, NoRowReadsBeyondByte59)
{
    std::set<int> used;
    for (const CatalogueEntry& e : ParameterCatalogue()) {
        if (e.settingsByte >= 0) {
            EXPECT_TRUE(used.insert(e.settingsByte).second) << e.settingsByte;
            EXPECT_LE(e.settingsByte, 59);
        }
    }
    EXPECT_EQ(*used.rbegin(), 59);
}

TEST(Catalogue, RowLabelsPerTab)
{
    std::vector<int> rows;
    for (const RowLabel& l : RowLabelsOfTab(4)) {
        rows.push_back(l.row);
    }
    EXPECT_THAT(rows, ElementsAre(1, 2, 3, 4, 5, 6, 7, 8));
    const std::vector<std::size_t> counts = {5, 6, 5, 7, 8, 3, 5};
    for (int tab = 0; tab < kTabCount; ++tab) {
        EXPECT_EQ(RowLabelsOfTab(tab).size(), counts[static_cast<std::size_t>(tab)]) << tab;
    }
    EXPECT_TRUE(RowLabelsOfTab(1).back().stationOnly);
    EXPECT_THAT(std::vector<std::string>(kTabNames.begin(), kTabNames.end()),
                ElementsAre("Maintenance", "Dial", "Audio", "Door Control", "Auxiliary I/O", "Door Alarm",
                            "Disconnect Options"));
}

std::vector<std::string> ListOf(int id)
{
    return FindEntryByControlId(id)->list->Entries();
}

TEST(ChoiceLists, TwentyFourListsInOrder)
{
    ASSERT_EQ(ChoiceLists().size(), 24u);
    for (std::size_t i = 0; i < 24; ++i) {
        EXPECT_EQ(ChoiceLists()[i].name, "L" + std::to_string(i + 1));
    }
}

TEST(ChoiceLists, Texts)
{
    EXPECT_THAT(ListOf(2008), ElementsAre("No Outgoing Calls", "Hotline Dial", "Dial Number after dialtone",
                                          "Dial Number after delay", "Enter Number from Keypad (7407 only)"));
    EXPECT_THAT(ListOf(2009),
                ElementsAre("Answer Incoming Calls", "Ignore Incoming Calls", "Answer Incoming Calls & Play Tone"));
    EXPECT_THAT(ListOf(2010), ElementsAre("0 (Call Btn disabled)", "1", "2", "3", "4", "5", "6", "7", "8", "9",
                                          "No limit (ring forever)"));
    EXPECT_THAT(ListOf(2011), ElementsAre("No", "Yes (Requires Door Sensor)"));
    EXPECT_EQ(ListOf(2021), ListOf(2011));
    EXPECT_EQ(ListOf(2013).front(), "1");
    EXPECT_EQ(ListOf(2013).back(), "16");
    EXPECT_THAT(ListOf(2014), ElementsAre("0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10"));
    EXPECT_EQ(ListOf(2015), ListOf(2014));
    EXPECT_THAT(ListOf(2016), ElementsAre("Full Duplex with Noise Reduction", "Full Duplex without Noise Reduction"));
    EXPECT_THAT(ListOf(2017), ElementsAre("On", "Off"));
    EXPECT_THAT(ListOf(2018), ElementsAre("Door Unlock Tone Disabled", "Door Unlock Tone Enabled",
                                          "Door Unlock Tone Enabled, 2sec Limit"));
    EXPECT_THAT(ListOf(2024), ElementsAre("No", "Yes (Disconnect when door unlocked)"));
    const std::vector<std::string> outputs = {
        "In-Use",      "Ring",       "Call Button Press",       "Door Control Function",
        "Door Sensor", "Door Alarm", "Follow Controller Input", "Follow Station Input",
        "Disabled"};
    EXPECT_EQ(ListOf(2026), outputs);
    EXPECT_EQ(ListOf(2027), outputs);
    EXPECT_EQ(ListOf(2028), outputs);
    EXPECT_THAT(ListOf(2029),
                ElementsAre("Door Sensor, Normally Open Input", "Door Sensor, Normally Closed Input",
                            "Manual Door Release Input", "Door Control Lockout Input",
                            "Call Button, Normally Open Input", "Call Button, Normally Closed Input", "Disabled"));
    EXPECT_THAT(ListOf(2030),
                ElementsAre("Door Sensor, Normally Open Input", "Door Sensor, Normally Closed Input",
                            "Call Button, Normally Open Input", "Call Button, Normally Closed Input", "Disabled"));
    EXPECT_EQ(ListOf(2029)[4], ListOf(2030)[2]);
    EXPECT_THAT(ListOf(2031), ElementsAre("Call Button Only", "Call Button, plus Onhook & Offhook Buttons",
                                          "Any Button Initiates Call"));
    EXPECT_THAT(ListOf(2032), ElementsAre("Keypad Backlight On", "Keypad Backlight Off"));
    EXPECT_THAT(ListOf(2033), ElementsAre("Bright", "Dim"));
    EXPECT_THAT(ListOf(2034), ElementsAre("30 Seconds", "2 Minutes", "15 Minutes", "30 Minutes", "60 Minutes",
                                          "90 Minutes", "120 Minutes", "None (do not trigger door alarm)"));
    EXPECT_THAT(ListOf(2035), ElementsAre("Call Every 2 Minutes", "Call Every 10 Minutes", "Call Every 30 Minutes",
                                          "Call Every Hour", "None (do not make any calls)"));
    EXPECT_THAT(ListOf(2037), ElementsAre("Loop Current", "Polarity Reversal", "Dialtone"));
    EXPECT_THAT(ListOf(2038), ElementsAre("0.1 Seconds", "0.25 Seconds", "0.5 Seconds", "0.75 Seconds", "1 Second"));
    EXPECT_THAT(ListOf(2039),
                ElementsAre("5 Seconds", "10 Seconds", "20 Seconds", "30 Seconds", "1 Minute", "Disabled"));
    EXPECT_THAT(ListOf(2040), ElementsAre("15 Seconds", "30 Seconds", "1 Minute", "2 Minutes", "3 Minutes", "5 Minutes",
                                          "10 Minutes", "30 Minutes", "Disabled"));
    EXPECT_THAT(ListOf(2041), ElementsAre("No", "Yes", "Recall (Disconnect & Call Again)"));
}

TEST(ChoiceLists, RelayTimeIsMadeByTheFormat)
{
    const ChoiceList& l10 = *FindEntryByControlId(2020)->list;
    ASSERT_EQ(l10.Size(), 31);
    EXPECT_EQ(l10.Entry(0), "1/4 Second");
    EXPECT_EQ(l10.Entry(1), "1 Second");
    for (int p = 2; p <= 30; ++p) {
        EXPECT_EQ(l10.Entry(p), std::to_string(p) + " Seconds");
    }
    EXPECT_EQ(l10.Entry(31), "");
    EXPECT_EQ(l10.Entry(-1), "");
}

TEST(ChoiceLists, EntriesBeyondAListAreEmpty)
{
    EXPECT_EQ(FindEntryByControlId(2017)->list->Entry(2), "");
    EXPECT_EQ(FindEntryByControlId(2017)->list->Entry(255), "");
}

}  // namespace

// What each text setting's rule does with a text: send it, or which message, and whether the focus goes back.
#include "settings/entry_rules.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    int controlId;
    const char* text;
    bool send;
    const char* message;  // nullptr: none
    bool focusBack;
};

const char* const kPad = "Invalid: Must be telephone pad character (0-9, #, *)";
const char* const kNumeric = "Invalid: Must be all numeric.";

const Case kCases[] = {
    {2019, "1*#9", true, nullptr, false},
    {2019, "", true, nullptr, false},
    {2019, "12345", false, "Entry too long", true},
    {2019, "1234a", false, "Entry too long", true},
    {2019, "12a4", false, kPad, true},
    {2019, "\xe9", false, kPad, true},
    {2004, "#0#0", true, nullptr, false},
    {2022, " 1", false, kPad, true},
    {2023, "****", true, nullptr, false},
    {2012, "0123456789012345", true, nullptr, false},
    {2012, "", true, nullptr, false},
    {2012, "01234567890123456", false, "Dial number too long. Maximum is 16 digits.", true},
    {2012, "555-1234", false, kNumeric, false},
    {2012, "#1", false, kNumeric, false},
    {2036, "0123456789", true, nullptr, false},
    {2036, "abcdefghijk", false, "?? number too long. Maximum is 10 digits.", true},
    {2036, "12 4", false, kNumeric, false},
    {2025, "12345678", true, nullptr, false},
    {2025, "1234567a", false, kNumeric, true},
    {2025, "123456789", false, "Employee Access Code too long. Maximum is 8 digits.", true},
    {2025, "", true, nullptr, false},
};

TEST(EntryRules, EveryTextSettingsRule)
{
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::to_string(c.controlId) + " \"" + c.text + "\"");
        const EntryVerdict v = CheckTextEntry(*FindEntryByControlId(c.controlId), c.text);
        EXPECT_EQ(v.send, c.send);
        EXPECT_EQ(v.message.has_value(), c.message != nullptr);
        if (c.message && v.message) {
            EXPECT_EQ(*v.message, c.message);
        }
        EXPECT_EQ(v.focusBack, c.focusBack);
    }
}

TEST(EntryRules, StatusAndChoiceEntriesAreNeverSentAsText)
{
    for (int id : {2000, 2001, 2002, 2003, 2008}) {
        const EntryVerdict v = CheckTextEntry(*FindEntryByControlId(id), "1");
        EXPECT_FALSE(v.send);
        EXPECT_FALSE(v.message.has_value());
    }
}

TEST(EntryRules, CheckersOnTheirOwn)
{
    EXPECT_FALSE(CheckTelephonePad("", 0));
    EXPECT_EQ(CheckTelephonePad("1", 0).value_or(""), "Entry too long");
    EXPECT_FALSE(CheckAllNumeric(""));
    EXPECT_EQ(CheckAllNumeric("0x").value_or(""), kNumeric);
}

}  // namespace

#include "settings/catalogue.h"

#include "device/reports.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

const std::array<const char*, kTabCount> kTabNames = {
    "Maintenance", "Dial", "Audio", "Door Control", "Auxiliary I/O", "Door Alarm", "Disconnect Options",
};

int ChoiceList::Size() const
{
    return std::max(static_cast<int>(fixed.size()), format ? formatLast + 1 : 0);
}

std::string ChoiceList::Entry(int position) const
{
    if (format && position >= formatFirst && position <= formatLast) {
        char text[64];
        std::snprintf(text, sizeof text, format, position);
        return text;
    }
    if (position >= 0 && position < static_cast<int>(fixed.size())) {
        return fixed[static_cast<std::size_t>(position)];
    }
    return {};
}

std::vector<std::string> ChoiceList::Entries() const
{
    std::vector<std::string> entries;
    for (int i = 0; i < Size(); ++i) {
        entries.push_back(Entry(i));
    }
    return entries;
}

namespace {

// A table laid out by hand.
// clang-format off
constexpr const char* kL1[] = {"No Outgoing Calls", "Hotline Dial", "Dial Number after dialtone",
                               "Dial Number after delay", "Enter Number from Keypad (7407 only)"};
constexpr const char* kL2[] = {"Answer Incoming Calls", "Ignore Incoming Calls", "Answer Incoming Calls & Play Tone"};
constexpr const char* kL3[] = {"0 (Call Btn disabled)", "1", "2", "3", "4", "5", "6", "7", "8", "9",
                               "No limit (ring forever)"};
constexpr const char* kL4[] = {"No", "Yes (Requires Door Sensor)"};
constexpr const char* kL5[] = {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14", "15", "16"};
constexpr const char* kL6[] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10"};
constexpr const char* kL7[] = {"Full Duplex with Noise Reduction", "Full Duplex without Noise Reduction"};
constexpr const char* kL8[] = {"On", "Off"};
constexpr const char* kL9[] = {"Door Unlock Tone Disabled", "Door Unlock Tone Enabled",
                               "Door Unlock Tone Enabled, 2sec Limit"};
constexpr const char* kL10[] = {"1/4 Second", "1 Second"};
constexpr const char* kL11[] = {"No", "Yes (Disconnect when door unlocked)"};
constexpr const char* kL12[] = {"In-Use",      "Ring",       "Call Button Press",       "Door Control Function",
                                "Door Sensor", "Door Alarm", "Follow Controller Input", "Follow Station Input",
                                "Disabled"};
constexpr const char* kL13[] = {"Door Sensor, Normally Open Input", "Door Sensor, Normally Closed Input",
                                "Manual Door Release Input",        "Door Control Lockout Input",
                                "Call Button, Normally Open Input", "Call Button, Normally Closed Input",
                                "Disabled"};
constexpr const char* kL14[] = {"Door Sensor, Normally Open Input", "Door Sensor, Normally Closed Input",
                                "Call Button, Normally Open Input", "Call Button, Normally Closed Input",
                                "Disabled"};
constexpr const char* kL15[] = {"Call Button Only", "Call Button, plus Onhook & Offhook Buttons",
                                "Any Button Initiates Call"};
constexpr const char* kL16[] = {"Keypad Backlight On", "Keypad Backlight Off"};
constexpr const char* kL17[] = {"Bright", "Dim"};
constexpr const char* kL18[] = {"30 Seconds", "2 Minutes",   "15 Minutes",  "30 Minutes",
                                "60 Minutes", "90 Minutes", "120 Minutes", "None (do not trigger door alarm)"};
constexpr const char* kL19[] = {"Call Every 2 Minutes", "Call Every 10 Minutes", "Call Every 30 Minutes",
                                "Call Every Hour", "None (do not make any calls)"};
constexpr const char* kL20[] = {"Loop Current", "Polarity Reversal", "Dialtone"};
constexpr const char* kL21[] = {"0.1 Seconds", "0.25 Seconds", "0.5 Seconds", "0.75 Seconds", "1 Second"};
constexpr const char* kL22[] = {"5 Seconds", "10 Seconds", "20 Seconds", "30 Seconds", "1 Minute", "Disabled"};
constexpr const char* kL23[] = {"15 Seconds", "30 Seconds", "1 Minute",   "2 Minutes", "3 Minutes",
                                "5 Minutes",  "10 Minutes", "30 Minutes", "Disabled"};
constexpr const char* kL24[] = {"No", "Yes", "Recall (Disconnect & Call Again)"};

const ChoiceList kLists[] = {
    {"L1", kL1},   {"L2", kL2},   {"L3", kL3},   {"L4", kL4},   {"L5", kL5},   {"L6", kL6},
    {"L7", kL7},   {"L8", kL8},   {"L9", kL9},   {"L10", kL10, 2, 30, "%i Seconds"},
    {"L11", kL11}, {"L12", kL12}, {"L13", kL13}, {"L14", kL14}, {"L15", kL15}, {"L16", kL16},
    {"L17", kL17}, {"L18", kL18}, {"L19", kL19}, {"L20", kL20}, {"L21", kL21}, {"L22", kL22},
    {"L23", kL23}, {"L24", kL24},
};

const ChoiceList* L(int n) { return &kLists[n - 1]; }
// clang-format on

using K = EntryKind;
using R = TextRule;

// The fields in the order CatalogueEntry declares them, laid out by hand.
// clang-format off
CatalogueEntry Status(int row, const char* label, int id, int byte, const char* key, StatusField field)
{
    return {0, row, label, id, K::Status, {0, row}, byte, nullptr, R::None, 0, nullptr, false, key, field};
}
CatalogueEntry Choice(int tab, int row, const char* label, int id, int list, const char* key, bool station = false)
{
    return {tab, row, label, id, K::Choice, {tab, row}, report::SettingsPosition(tab, row), L(list), R::None, 0, nullptr,
            station, key};
}
CatalogueEntry Text(int tab, int row, const char* label, int id, R rule, int max, const char* tooLong,
                    const char* key, bool station = false)
{
    return {tab, row, label, id, K::Text, {tab, row}, report::SettingsPosition(tab, row), nullptr, rule, max, tooLong,
            station, key};
}
// clang-format on

const std::vector<CatalogueEntry>& Table()
{
    static const std::vector<CatalogueEntry> table = {
        // Tab 0, Maintenance
        Status(1, "Firmware Detected", 2000, int(report::kFirmwareByte1), "maintenance.firmware-detected",
               StatusField::Firmware),
        Status(2, "Firmware Available", 2001, -1, "maintenance.firmware-available", StatusField::CarriedFirmware),
        Status(3, "Station Type", 2002, int(report::kStationByte), "maintenance.station-type", StatusField::Station),
        Status(4, "Connection", 2003, int(report::kLevelByte), "maintenance.connection", StatusField::LineLevel),
        Text(0, 5, "DTMF Password", 2004, R::TelephonePad, 4, nullptr, "maintenance.dtmf-password"),
        // Tab 1, Dial
        Choice(1, 1, "Outgoing Call Mode", 2008, 1, "dial.outgoing-call-mode"),
        Choice(1, 2, "Incoming Call Mode", 2009, 2, "dial.incoming-call-mode"),
        Choice(1, 3, "Outgoing Ring Limit", 2010, 3, "dial.outgoing-ring-limit"),
        Choice(1, 4, "Cancel Ring if Door Opened", 2011, 4, "dial.cancel-ring-if-door-opened"),
        Text(1, 5, "Outgoing Dial Number", 2012, R::Number, 16, "Dial number too long. Maximum is 16 digits.",
             "dial.outgoing-dial-number"),
        Choice(1, 6, "7407 Keypad Dial String Length", 2013, 5, "dial.keypad-dial-string-length", true),
        // Tab 2, Audio
        Choice(2, 1, "Speaker Volume", 2014, 6, "audio.speaker-volume"),
        Choice(2, 2, "Microphone Level", 2015, 6, "audio.microphone-level"),
        Choice(2, 3, "DSP", 2016, 7, "audio.dsp"),
        Choice(2, 4, "Microphone AGC", 2017, 8, "audio.microphone-agc"),
        Choice(2, 5, "Door Unlock Tone", 2018, 9, "audio.door-unlock-tone"),
        // Tab 3, Door Control
        Text(3, 1, "Open Code", 2019, R::TelephonePad, 4, nullptr, "door.open-code"),
        Choice(3, 2, "Relay Time", 2020, 10, "door.relay-time"),
        Choice(3, 3, "Cancel with Door Open", 2021, 4, "door.cancel-with-door-open"),
        Text(3, 4, "Latch Open Code", 2022, R::TelephonePad, 4, nullptr, "door.latch-open-code"),
        Text(3, 5, "Release Code", 2023, R::TelephonePad, 4, nullptr, "door.release-code"),
        Choice(3, 6, "End Call After DTMF", 2024, 11, "door.end-call-after-dtmf"),
        Text(3, 7, "7407 Employee Access Code", 2025, R::AccessCode, 8,
             "Employee Access Code too long. Maximum is 8 digits.", "door.employee-access-code", true),
        // Tab 4, Auxiliary I/O
        Choice(4, 1, "Controller Output", 2026, 12, "aux.controller-output"),
        Choice(4, 2, "Station Output", 2027, 12, "aux.station-output"),
        Choice(4, 3, "Door Relay Output", 2028, 12, "aux.door-relay-output"),
        Choice(4, 4, "Controller Input", 2029, 13, "aux.controller-input"),
        Choice(4, 5, "Station Input", 2030, 14, "aux.station-input"),
        Choice(4, 6, "7407 Call Button", 2031, 15, "aux.keypad-call-button", true),
        Choice(4, 7, "7407 Keypad Backlight", 2032, 16, "aux.keypad-backlight", true),
        Choice(4, 8, "7407 Backlight Brightness", 2033, 17, "aux.backlight-brightness", true),
        // Tab 5, Door Alarm
        Choice(5, 1, "Max Door Open Time", 2034, 18, "alarm.max-door-open-time"),
        Choice(5, 2, "Ring Phone Upon Door Alarm", 2035, 19, "alarm.ring-phone-upon-door-alarm"),
        Text(5, 3, "Ring this Number Instead", 2036, R::Number, 10, "?? number too long. Maximum is 10 digits.",
             "alarm.ring-this-number-instead"),
        // Tab 6, Disconnect Options
        Choice(6, 1, "Disconnect Type", 2037, 20, "disconnect.type"),
        Choice(6, 2, "Loop Disconnect", 2038, 21, "disconnect.loop-disconnect"),
        Choice(6, 3, "VOX Timeout", 2039, 22, "disconnect.vox-timeout"),
        Choice(6, 4, "Call Limit", 2040, 23, "disconnect.call-limit"),
        Choice(6, 5, "Allow Call Button to End Call", 2041, 24, "disconnect.call-button-ends-call"),
    };
    return table;
}

// dependent                     on                 position
constexpr SettingDependency kDependencies[] = {
    {"disconnect.loop-disconnect", "disconnect.type", 0},  // only while Disconnect Type is "Loop Current"
};

}  // namespace

bool SameText(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::span<const SettingDependency> SettingDependencies()
{
    return kDependencies;
}

const SettingDependency* DependencyOf(const CatalogueEntry& entry)
{
    for (const SettingDependency& rule : kDependencies) {
        if (std::string_view(rule.dependent) == entry.key) {
            return &rule;
        }
    }
    return nullptr;
}

std::vector<const SettingDependency*> RulesDecidedBy(const CatalogueEntry& entry)
{
    std::vector<const SettingDependency*> rules;
    for (const SettingDependency& rule : kDependencies) {
        if (std::string_view(rule.on) == entry.key) {
            rules.push_back(&rule);
        }
    }
    return rules;
}

std::string RuleText(const SettingDependency& rule)
{
    const CatalogueEntry* dependent = FindEntryByKey(rule.dependent);
    const CatalogueEntry* on = FindEntryByKey(rule.on);
    return std::string(dependent->label) + " can be set only while " + on->label + " is \"" +
           on->list->Entry(rule.position) + "\"";
}

const CatalogueEntry* FindEntryByKeyOrLabel(std::string_view keyOrLabel)
{
    if (const CatalogueEntry* entry = FindEntryByKey(keyOrLabel)) {
        return entry;
    }
    for (const CatalogueEntry& entry : Table()) {
        if (SameText(entry.label, keyOrLabel) || SameText(entry.key, keyOrLabel)) {
            return &entry;
        }
    }
    return nullptr;
}

std::span<const CatalogueEntry> ParameterCatalogue()
{
    return Table();
}

std::span<const ChoiceList> ChoiceLists()
{
    return kLists;
}

const CatalogueEntry* FindEntryByControlId(int controlId)
{
    for (const CatalogueEntry& e : Table()) {
        if (e.controlId == controlId) {
            return &e;
        }
    }
    return nullptr;
}

const CatalogueEntry* FindEntryByAddress(ParameterAddress address)
{
    for (const CatalogueEntry& e : Table()) {
        if (e.kind != EntryKind::Status && e.address == address) {
            return &e;
        }
    }
    return nullptr;
}

const CatalogueEntry* FindEntryByKey(std::string_view key)
{
    for (const CatalogueEntry& e : Table()) {
        if (key == e.key) {
            return &e;
        }
    }
    return nullptr;
}

std::vector<const CatalogueEntry*> EntriesOfTab(int tab)
{
    std::vector<const CatalogueEntry*> entries;
    for (const CatalogueEntry& e : Table()) {
        if (e.tab == tab) {
            entries.push_back(&e);
        }
    }
    return entries;
}

std::vector<RowLabel> RowLabelsOfTab(int tab)
{
    std::vector<RowLabel> labels;
    for (const CatalogueEntry* e : EntriesOfTab(tab)) {
        labels.push_back({e->row, e->label, e->stationOnly});
    }
    return labels;
}

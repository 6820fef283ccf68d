// The parameter catalogue: every entry the window shows, with its tab and row, label, control, kind,
// parameter address, settings-report byte, choice list or entry rule, and station-only flag. The dialog,
// the read-back, the write-back and the command-line tool all take their knowledge from this one table.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

constexpr int kTabCount = 7;
extern const std::array<const char*, kTabCount> kTabNames;

// The model code of the 7407 keypad station, for which the station-only rows are shown.
constexpr int kKeypadStationModel = 7;

struct ParameterAddress {
    int group = 0;  // the tab
    int index = 0;  // the row
    bool operator==(const ParameterAddress&) const = default;
};

enum class EntryKind { Status, Choice, Text };

// What a status entry shows.
enum class StatusField { None, Firmware, CarriedFirmware, Station, LineLevel };

// How a text entry is checked before it is sent.
enum class TextRule {
    None,
    TelephonePad,  // digits, '#' and '*', at most maxLength; "Entry too long" or the character message
    Number,        // digits only, at most maxLength with the row's own message; not all digits: no focus back
    AccessCode,    // digits only, at most maxLength with the row's own message; not all digits: focus back
};

// A choice list. Entries are fixed texts, except positions formatFirst..formatLast, which are made from the
// position with `format` (printf style, one int).
struct ChoiceList {
    const char* name;  // "L1" .. "L24"
    std::span<const char* const> fixed;
    int formatFirst = -1;
    int formatLast = -1;
    const char* format = nullptr;

    int Size() const;
    std::string Entry(int position) const;  // empty for a position outside the list
    std::vector<std::string> Entries() const;
};

struct CatalogueEntry {
    int tab;
    int row;
    const char* label;
    int controlId;
    EntryKind kind;
    ParameterAddress address;
    int settingsByte;            // -1: not shown from the settings report
    const ChoiceList* list;      // choice entries
    TextRule rule;               // text entries
    int maxLength;               // text entries
    const char* tooLongMessage;  // text entries with their own length message
    bool stationOnly;
    const char* key;                         // stable name for scripts and profiles, e.g. "dial.outgoing-call-mode"
    StatusField status = StatusField::None;  // status entries
};

std::span<const CatalogueEntry> ParameterCatalogue();
std::span<const ChoiceList> ChoiceLists();

const CatalogueEntry* FindEntryByControlId(int controlId);
const CatalogueEntry* FindEntryByAddress(ParameterAddress address);
const CatalogueEntry* FindEntryByKey(std::string_view key);
// Equal but for the case of ASCII letters, as users type keys, labels and entry texts.
bool SameText(std::string_view a, std::string_view b);
// By key, or by label or key in any case (as users type them). Null when neither matches.
const CatalogueEntry* FindEntryByKeyOrLabel(std::string_view keyOrLabel);
// The entries of one tab in row order (two on tab 0, row 2: none shares a row otherwise).
std::vector<const CatalogueEntry*> EntriesOfTab(int tab);

// The label of each row of a tab, as the row labels show it. Station-only rows are marked.
struct RowLabel {
    int row;
    const char* text;
    bool stationOnly;
};
std::vector<RowLabel> RowLabelsOfTab(int tab);

// A rule between settings: `dependent` can be changed only while the choice `on` holds list position
// `position`. Where one setting of a rule changes the other's freedom, the write order follows from it.
struct SettingDependency {
    const char* dependent;
    const char* on;
    int position;
};
std::span<const SettingDependency> SettingDependencies();
// The rule that limits `entry`, or null when it is free.
const SettingDependency* DependencyOf(const CatalogueEntry& entry);
// The rules that `entry` decides.
std::vector<const SettingDependency*> RulesDecidedBy(const CatalogueEntry& entry);
// "Loop Disconnect can be set only while Disconnect Type is "Loop Current"".
std::string RuleText(const SettingDependency& rule);

// A setting's new value as users give it (a choice's text or position, a text checked by the window's
// entry rules), whether a read already holds it, its report, and the order that the rules between
// settings impose on several.
#pragma once

#include "settings/catalogue.h"
#include "settings/snapshot.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A list position for a choice, the text for a text setting.
struct SettingValue {
    const CatalogueEntry* entry = nullptr;
    int position = -1;
    std::string text;

    // The value as the settings show it: the choice's entry text, or the text.
    std::string Display() const;
};

// A choice value: an entry's text (in any case) or, when no text matches and `allowPosition`, "#N" or a
// plain number N for position N (only "#N" where the entries are numbers themselves: there a plain number
// is a text). Nothing when it is neither.
bool EntriesAreNumbers(const ChoiceList& list);
std::optional<int> ParseChoice(const ChoiceList& list, std::string_view value, bool allowPosition = true);

// Checks VALUE for a setting. Returns the error, with the window's message for a text that breaks its rule.
std::optional<std::string> ParseSettingValue(const CatalogueEntry& entry, const std::string& value, bool allowPosition,
                                             SettingValue& out);

// Whether the snapshot already holds the value.
bool Holds(const SettingsSnapshot& snapshot, const SettingValue& value);

// The changes in an order that the rules between settings allow from what `now` holds: a dependent
// setting goes before a change that would lock it, and after one that frees it. The rule that no order
// can satisfy, when there is one.
struct WriteOrder {
    std::vector<SettingValue> values;
    const SettingDependency* broken = nullptr;
};
WriteOrder OrderForWriting(std::vector<SettingValue> changes, const SettingsSnapshot& now);

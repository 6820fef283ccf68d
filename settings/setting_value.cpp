#include "settings/setting_value.h"

#include "settings/entry_rules.h"
#include "settings/text_encoding.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace {

std::optional<int> Number(std::string_view text)
{
    int value = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || ptr != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

bool EntriesAreNumbers(const ChoiceList& list)
{
    for (int i = 0; i < list.Size(); ++i) {
        if (!Number(list.Entry(i))) {
            return false;
        }
    }
    return list.Size() > 0;
}

std::string SettingValue::Display() const
{
    return entry->kind == EntryKind::Choice ? entry->list->Entry(position) : text;
}

std::optional<int> ParseChoice(const ChoiceList& list, std::string_view value, bool allowPosition)
{
    for (int i = 0; i < list.Size(); ++i) {
        if (SameText(list.Entry(i), value)) {
            return i;
        }
    }
    if (!allowPosition) {
        return std::nullopt;
    }
    if (!value.empty() && value.front() == '#') {
        value.remove_prefix(1);
    } else if (EntriesAreNumbers(list)) {
        return std::nullopt;  // where the entries are numbers, a plain number is a text, never a position
    }
    std::optional<int> position = Number(value);
    if (position && *position >= 0 && *position < list.Size()) {
        return position;
    }
    return std::nullopt;
}

std::optional<std::string> ParseSettingValue(const CatalogueEntry& entry, const std::string& value, bool allowPosition,
                                             SettingValue& out)
{
    out.entry = &entry;
    switch (entry.kind) {
    case EntryKind::Status:
        return std::string(entry.key) + " is read-only";
    case EntryKind::Choice: {
        std::optional<int> position = ParseChoice(*entry.list, value, allowPosition);
        if (!position) {
            // Appended piece by piece: GCC 12 at -O3 takes "literal" + std::string for overlapping copies
            // (a false -Wrestrict).
            std::string message = "\"";
            message += Excerpt(value);
            message += "\" is not a value of ";
            message += entry.key;
            return message;
        }
        out.position = *position;
        return std::nullopt;
    }
    case EntryKind::Text: {
        const EntryVerdict verdict = CheckTextEntry(entry, value);
        if (!verdict.send) {
            return verdict.message.value_or("not accepted");
        }
        out.text = value;
        return std::nullopt;
    }
    }
    return "unknown kind of setting";
}

bool Holds(const SettingsSnapshot& snapshot, const SettingValue& value)
{
    if (value.entry->kind == EntryKind::Choice) {
        return snapshot.Byte(*value.entry) == value.position;
    }
    return snapshot.ValueText(*value.entry) == value.text;
}

WriteOrder OrderForWriting(std::vector<SettingValue> changes, const SettingsSnapshot& now)
{
    auto find = [&](const char* key) {
        return std::find_if(changes.begin(), changes.end(),
                            [key](const SettingValue& v) { return std::string_view(v.entry->key) == key; });
    };
    for (const SettingDependency& rule : SettingDependencies()) {
        auto dependent = find(rule.dependent);
        if (dependent == changes.end()) {
            continue;
        }
        auto decider = find(rule.on);
        const bool freeNow = now.Byte(*FindEntryByKey(rule.on)) == rule.position;
        const bool freeAfter = decider != changes.end() ? decider->position == rule.position : freeNow;
        if (!freeNow && !freeAfter) {
            return {{}, &rule};
        }
        if (decider == changes.end()) {
            continue;
        }
        // Free now: write it before the decider may lock it. Freed by the decider: write it after.
        SettingValue moved = *dependent;
        changes.erase(dependent);
        decider = find(rule.on);
        changes.insert(freeNow ? decider : decider + 1, std::move(moved));
    }
    return {std::move(changes), nullptr};
}

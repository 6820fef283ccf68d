#include "cli/profile.h"

#include "settings/entry_rules.h"

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
            return "\"" + value + "\" is not a value of " + entry.key + " (see: doorphonectl keys)";
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

nlohmann::json MakeProfile(const Snapshot& snapshot)
{
    nlohmann::json settings = nlohmann::json::object();
    for (const CatalogueEntry& entry : ParameterCatalogue()) {
        if (entry.kind != EntryKind::Status) {
            settings[entry.key] = snapshot.ValueText(entry);
        }
    }
    return {
        {"format", kProfileFormat},
        {"version", kProfileVersion},
        {"firmware", FormatFirmwareVersion(snapshot.Firmware())},
        {"station", StationText(snapshot.Station())},
        {"settings", settings},
    };
}

ProfileContents ReadProfile(const nlohmann::json& profile)
{
    ProfileContents contents;
    if (!profile.is_object() || profile.value("format", "") != kProfileFormat) {
        contents.errors.push_back(std::string("not a profile: \"format\" must be \"") + kProfileFormat + "\"");
        return contents;
    }
    if (!profile.contains("version") || !profile["version"].is_number_integer() ||
        profile["version"].get<int>() != kProfileVersion) {
        contents.errors.push_back("unsupported profile version (this tool reads version " +
                                  std::to_string(kProfileVersion) + ")");
        return contents;
    }
    if (!profile.contains("settings") || !profile["settings"].is_object()) {
        contents.errors.push_back("the profile has no \"settings\" object");
        return contents;
    }
    const nlohmann::json& settings = profile["settings"];
    for (auto it = settings.begin(); it != settings.end(); ++it) {
        const CatalogueEntry* entry = FindEntryByKey(it.key());
        if (entry == nullptr) {
            contents.errors.push_back("unknown key " + it.key());
        } else if (!it.value().is_string()) {
            contents.errors.push_back(it.key() + ": the value must be a text");
        }
    }
    for (const CatalogueEntry& entry : ParameterCatalogue()) {
        auto it = settings.find(entry.key);
        if (it == settings.end() || !it->is_string()) {
            continue;
        }
        SettingValue value;
        // Profiles carry value texts only: a number is a choice's text, never a position.
        if (auto error = ParseSettingValue(entry, it->get<std::string>(), false, value)) {
            contents.errors.push_back(std::string(entry.key) + ": " + *error);
            continue;
        }
        contents.values.push_back(value);
    }
    return contents;
}

bool WriteSetting(DeviceLink& link, const SettingValue& value)
{
    const ParameterAddress a = value.entry->address;
    if (value.entry->kind == EntryKind::Choice) {
        return link.SendNumericParameter(a.group, a.index, value.position);
    }
    return link.SendStringParameter(a.group, a.index, static_cast<int>(value.text.size()), value.text.c_str());
}

bool Holds(const Snapshot& snapshot, const SettingValue& value)
{
    if (value.entry->kind == EntryKind::Choice) {
        return snapshot.Byte(*value.entry) == value.position;
    }
    return snapshot.ValueText(*value.entry) == value.text;
}

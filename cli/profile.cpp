#include "cli/profile.h"


nlohmann::json MakeProfile(const SettingsSnapshot& snapshot)
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
            const std::string hint = entry.kind == EntryKind::Choice ? " (see: doorphonectl keys)" : "";
            contents.errors.push_back(std::string(entry.key) + ": " + *error + hint);
            continue;
        }
        contents.values.push_back(value);
    }
    return contents;
}

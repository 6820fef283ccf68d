#include "cli/profile.h"

#include "settings/text_encoding.h"

#include <set>

nlohmann::json MakeProfile(const SettingsSnapshot& snapshot)
{
    nlohmann::json settings = nlohmann::json::object();
    for (const CatalogueEntry& entry : ParameterCatalogue()) {
        if (entry.kind != EntryKind::Status) {
            settings[entry.key] = Latin1ToUtf8(snapshot.ValueText(entry));
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
    if (!profile.is_object() || !profile.contains("format") || profile["format"] != kProfileFormat) {
        contents.errors.push_back(std::string("not a profile: \"format\" must be \"") + kProfileFormat + "\"");
        return contents;
    }
    const nlohmann::json* version = profile.contains("version") ? &profile["version"] : nullptr;
    if (version == nullptr || !version->is_number_integer() || *version != kProfileVersion) {
        contents.errors.push_back("unsupported profile version (this tool reads version " +
                                  std::to_string(kProfileVersion) + ")");
        return contents;
    }
    if (!profile.contains("settings") || !profile["settings"].is_object()) {
        contents.errors.push_back("the profile has no \"settings\" object");
        return contents;
    }
    const nlohmann::json& settings = profile["settings"];
    int unknown = 0;
    for (auto it = settings.begin(); it != settings.end(); ++it) {
        const CatalogueEntry* entry = FindEntryByKey(it.key());
        if (entry == nullptr) {
            if (++unknown <= kUnknownKeysNamed) {
                contents.errors.push_back("unknown key " + Excerpt(it.key()));
            }
        } else if (!it.value().is_string()) {
            contents.errors.push_back(it.key() + ": the value must be a text");
        }
    }
    if (unknown > kUnknownKeysNamed) {
        contents.errors.push_back("and " + std::to_string(unknown - kUnknownKeysNamed) + " more unknown keys");
    }
    for (const CatalogueEntry& entry : ParameterCatalogue()) {
        auto it = settings.find(entry.key);
        if (it == settings.end() || !it->is_string()) {
            continue;
        }
        const std::optional<std::string> text = Utf8ToLatin1(it->get<std::string>());
        if (!text) {
            contents.errors.push_back(std::string(entry.key) + ": the value holds a character the controller cannot "
                                                               "hold (only U+0000 to U+00FF)");
            continue;
        }
        SettingValue value;
        // Profiles carry value texts only: a number is a choice's text, never a position.
        if (auto error = ParseSettingValue(entry, *text, false, value)) {
            const std::string hint = entry.kind == EntryKind::Choice ? " (see: doorphonectl keys)" : "";
            contents.errors.push_back(std::string(entry.key) + ": " + *error + hint);
            continue;
        }
        contents.values.push_back(value);
    }
    return contents;
}

ProfileContents ReadProfileText(const std::string& text)
{
    // JSON allows a key twice and keeps the last; a profile that says two things of one setting is refused.
    std::vector<std::set<std::string>> seen;
    std::string duplicate;
    auto noteKeys = [&](int, nlohmann::json::parse_event_t event, nlohmann::json& parsed) {
        using E = nlohmann::json::parse_event_t;
        if (event == E::object_start) {
            seen.emplace_back();
        } else if (event == E::object_end && !seen.empty()) {
            seen.pop_back();
        } else if (event == E::key && !seen.empty() && !seen.back().insert(parsed.get<std::string>()).second &&
                   duplicate.empty()) {
            duplicate = parsed.get<std::string>();
        }
        return true;
    };
    ProfileContents contents;
    // The parser takes a NUL byte for the end of its input and would read no further.
    if (const std::size_t nul = text.find('\0'); nul != std::string::npos) {
        contents.errors.push_back("not JSON text: a NUL byte at byte " + std::to_string(nul));
        return contents;
    }
    nlohmann::json profile;
    try {
        profile = nlohmann::json::parse(text, noteKeys);
    } catch (const nlohmann::json::parse_error& e) {
        contents.errors.push_back("not JSON (at byte " + std::to_string(e.byte) + ")");
        return contents;
    } catch (const nlohmann::json::exception&) {
        contents.errors.push_back("not JSON");
        return contents;
    }
    if (!duplicate.empty()) {
        contents.errors.push_back("the key \"" + Excerpt(duplicate) + "\" stands twice");
        return contents;
    }
    return ReadProfile(profile);
}

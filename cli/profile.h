// Configuration profiles: every setting of a controller by key, as JSON.
//   {"format": "doorphoneconfig-profile", "version": 1, "firmware": "1.05.2",
//    "station": "Model 7407, version 3", "settings": {"dial.outgoing-call-mode": "Hotline Dial", ...}}
#pragma once

#include "cli/session.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

constexpr const char* kProfileFormat = "doorphoneconfig-profile";
constexpr int kProfileVersion = 1;

// One setting's new value: a list position for a choice, the text for a text setting.
struct SettingValue {
    const CatalogueEntry* entry = nullptr;
    int position = -1;
    std::string text;
};

// Checks VALUE for a setting as `set` takes it (a choice's text or position, a text by the window's entry
// rules). Returns the error, with the window's message for a text that breaks its rule.
std::optional<std::string> ParseSettingValue(const CatalogueEntry& entry, const std::string& value, bool allowPosition,
                                             SettingValue& out);

nlohmann::json MakeProfile(const Snapshot& snapshot);

struct ProfileContents {
    std::vector<SettingValue> values;  // in catalogue order
    std::vector<std::string> errors;   // every problem found; nothing may be sent when there is one
};
ProfileContents ReadProfile(const nlohmann::json& profile);

// Sends one setting; true when the controller took the report.
bool WriteSetting(DeviceLink& link, const SettingValue& value);

// Whether the snapshot already holds the value.
bool Holds(const Snapshot& snapshot, const SettingValue& value);

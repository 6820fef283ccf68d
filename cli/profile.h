// Configuration profiles: every setting of a controller by key, as JSON.
//   {"format": "doorphoneconfig-profile", "version": 1, "firmware": "1.05.2",
//    "station": "Model 7407, version 3", "settings": {"dial.outgoing-call-mode": "Hotline Dial", ...}}
#pragma once

#include "settings/setting_value.h"
#include "settings/snapshot.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

constexpr const char* kProfileFormat = "doorphoneconfig-profile";
constexpr int kProfileVersion = 1;

nlohmann::json MakeProfile(const SettingsSnapshot& snapshot);

struct ProfileContents {
    std::vector<SettingValue> values;  // in catalogue order
    std::vector<std::string> errors;   // every problem found; nothing may be sent when there is one
};
ProfileContents ReadProfile(const nlohmann::json& profile);
// From a profile's text: not JSON, or a key that stands twice in one object, is an error too.
ProfileContents ReadProfileText(const std::string& text);
// Unknown keys named one by one; the rest are counted in one line.
constexpr int kUnknownKeysNamed = 10;
// The largest profile read; a real one is about 2 KiB.
constexpr std::size_t kLargestProfile = std::size_t{1024} * 1024;

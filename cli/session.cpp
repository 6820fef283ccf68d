#include "cli/session.h"

#include "device/firmware_stream.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace {

bool SameText(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

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

FirmwareVersion Snapshot::Firmware() const
{
    return DecodeFirmwareVersion(settings[report::kFirmwareByte1], settings[report::kFirmwareByte2]);
}

StationInfo Snapshot::Station() const
{
    return DecodeStation(settings[report::kStationByte]);
}

int Snapshot::LevelPercent() const
{
    return DecodeLineLevelPercent(settings[report::kLevelByte]);
}

int Snapshot::Byte(const CatalogueEntry& entry) const
{
    return entry.settingsByte < 0 ? -1 : settings[static_cast<std::size_t>(entry.settingsByte)];
}

std::string StationText(const StationInfo& station)
{
    if (station.model == 0) {
        return "none";
    }
    char text[48];
    std::snprintf(text, sizeof text, "Model 74%02d, version %d", station.model, station.version);
    return text;
}

std::string Snapshot::ValueText(const CatalogueEntry& entry) const
{
    switch (entry.kind) {
    case EntryKind::Status:
        switch (entry.controlId) {
        case 2000:
            return FormatFirmwareVersion(Firmware());
        case 2001:
            return FirmwareImageVersion();
        case 2002:
            // As the window: no station below a 1 % line.
            return LevelPercent() < 1 ? "none" : StationText(Station());
        default:
            return std::to_string(LevelPercent()) + " %";
        }
    case EntryKind::Choice: {
        const int position = Byte(entry);
        if (position >= entry.list->Size()) {
            return "(position " + std::to_string(position) + ", not in the list)";
        }
        return entry.list->Entry(position);
    }
    case EntryKind::Text:
        return StringPoolText(std::span<const uint8_t>(pool.data(), pool.size()), Byte(entry));
    }
    return {};
}

bool ReadSnapshot(DeviceLink& link, Snapshot& snapshot)
{
    snapshot.settings[0] = report::kSettingsId;
    if (!link.GetFeature(snapshot.settings.data(), report::kSettingsLength)) {
        return false;
    }
    snapshot.pool[0] = report::kStringPoolId;
    return link.GetFeature(snapshot.pool.data(), report::kStringPoolLength);
}

const CatalogueEntry* ResolveKey(std::string_view keyOrLabel)
{
    if (const CatalogueEntry* entry = FindEntryByKey(keyOrLabel)) {
        return entry;
    }
    for (const CatalogueEntry& entry : ParameterCatalogue()) {
        if (SameText(entry.label, keyOrLabel) || SameText(entry.key, keyOrLabel)) {
            return &entry;
        }
    }
    return nullptr;
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
    }
    std::optional<int> position = Number(value);
    if (position && *position >= 0 && *position < list.Size()) {
        return position;
    }
    return std::nullopt;
}

#include "settings/snapshot.h"

#include "device/firmware_stream.h"

FirmwareVersion SettingsSnapshot::Firmware() const
{
    return DecodeFirmwareVersion(settings[report::kFirmwareByte1], settings[report::kFirmwareByte2]);
}

StationInfo SettingsSnapshot::Station() const
{
    return DecodeStation(settings[report::kStationByte]);
}

int SettingsSnapshot::LevelPercent() const
{
    return DecodeLineLevelPercent(settings[report::kLevelByte]);
}

bool SettingsSnapshot::StationAttached() const
{
    return Station().model != 0 && LevelPercent() >= 1;
}

int SettingsSnapshot::Byte(const CatalogueEntry& entry) const
{
    return entry.settingsByte < 0 ? -1 : settings[static_cast<std::size_t>(entry.settingsByte)];
}

std::string SettingsSnapshot::Text(const CatalogueEntry& entry) const
{
    return StringPoolText(std::span<const uint8_t>(pool.data(), pool.size()), static_cast<uint8_t>(Byte(entry)));
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

std::string SettingsSnapshot::ValueText(const CatalogueEntry& entry) const
{
    switch (entry.kind) {
    case EntryKind::Status:
        switch (entry.status) {
        case StatusField::Firmware:
            return FormatFirmwareVersion(Firmware());
        case StatusField::CarriedFirmware:
            return FirmwareImageVersion();
        case StatusField::Station:
            return StationAttached() ? StationText(Station()) : "none";
        case StatusField::LineLevel:
            return std::to_string(LevelPercent()) + " %";
        case StatusField::None:
            return {};
        }
        return {};
    case EntryKind::Choice: {
        const int position = Byte(entry);
        if (position >= entry.list->Size()) {
            return "(position " + std::to_string(position) + ", not in the list)";
        }
        return entry.list->Entry(position);
    }
    case EntryKind::Text:
        return Text(entry);
    }
    return {};
}

bool SettingsSnapshot::Allows(const CatalogueEntry& entry) const
{
    const SettingDependency* rule = DependencyOf(entry);
    return rule == nullptr || Byte(*FindEntryByKey(rule->on)) == rule->position;
}

bool SameSettings(const SettingsSnapshot& a, const SettingsSnapshot& b)
{
    for (const CatalogueEntry& entry : ParameterCatalogue()) {
        if (entry.kind == EntryKind::Choice && a.Byte(entry) != b.Byte(entry)) {
            return false;
        }
        if (entry.kind == EntryKind::Text && a.Text(entry) != b.Text(entry)) {
            return false;
        }
    }
    return true;
}

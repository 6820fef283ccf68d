// What the command-line tool knows of the controller: one read of its settings and string-pool reports, and
// each catalogue entry's value in it, as text and, for a choice, as its list position.
#pragma once

#include "device/device_link.h"
#include "device/reports.h"
#include "settings/catalogue.h"

#include <optional>
#include <string>
#include <string_view>

struct Snapshot {
    ReportBytes settings{};
    ReportBytes pool{};

    FirmwareVersion Firmware() const;
    StationInfo Station() const;
    int LevelPercent() const;

    // The raw settings byte of an entry (a choice's position); -1 for entries not shown from the report.
    int Byte(const CatalogueEntry& entry) const;
    // The value as the window shows it, without its leading blanks; a choice beyond its list reads
    // "(position N, not in the list)".
    std::string ValueText(const CatalogueEntry& entry) const;
};

// Reads both reports; false when either transfer fails.
bool ReadSnapshot(DeviceLink& link, Snapshot& snapshot);

// A setting by its key, or by its label in any case. Null when neither matches.
const CatalogueEntry* ResolveKey(std::string_view keyOrLabel);

// A choice value: an entry's text (in any case) or, when no text matches, "#N" or a plain number N for
// position N. Nothing when it is neither.
std::optional<int> ParseChoice(const ChoiceList& list, std::string_view value, bool allowPosition = true);

// "Model 7407, version 3", or "none".
std::string StationText(const StationInfo& station);

// What a read of the controller returned: its settings report and string-pool report, and each catalogue
// entry's value in them, as the list position, the text, or the value text both programs show.
#pragma once

#include "device/reports.h"
#include "settings/catalogue.h"

#include <string>

struct SettingsSnapshot {
    ReportBytes settings{};
    ReportBytes pool{};

    FirmwareVersion Firmware() const;
    StationInfo Station() const;
    int LevelPercent() const;
    // A station counts as attached only on a line of at least 1 %.
    bool StationAttached() const;
    bool KeypadStation() const { return Station().model == kKeypadStationModel; }

    // The raw settings byte of an entry (a choice's position); -1 for entries not shown from the report.
    int Byte(const CatalogueEntry& entry) const;
    // A text setting's text from the string pool.
    std::string Text(const CatalogueEntry& entry) const;
    // The value without the window's leading blanks; a choice beyond its list reads
    // "(position N, not in the list)".
    std::string ValueText(const CatalogueEntry& entry) const;
    // Whether the rules between settings let `entry` be changed now.
    bool Allows(const CatalogueEntry& entry) const;
};

// Whether both hold the same value for every setting (status fields aside).
bool SameSettings(const SettingsSnapshot& a, const SettingsSnapshot& b);

// "Model 7407, version 3", or "none".
std::string StationText(const StationInfo& station);

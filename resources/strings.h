// The tool's own texts outside the code: string 1, the version of the firmware image the tool carries,
// and string 2, the version line.
#pragma once

constexpr const char* kFirmwareImageVersion = "2.01.0";
constexpr const char* kVersionLineText = "Version 2.01 (June 2/15)";

// Asked before the carried firmware is installed, by the window and by the command-line tool alike.
constexpr const char* kInstallQuestion =
    "Installing this firmware will reset all settings to default.  Are you sure you want to continue?";

// The tool's own texts outside the code: the version of the firmware image the tool carries, and the
// version line.
#pragma once

#include "resources/version.h"

constexpr const char* kFirmwareImageVersion = DPC_FIRMWARE_VERSION;
// The tool's version, from the project's, and the version line that shows it.
constexpr const char* kToolVersion = DPC_VERSION;
constexpr const char* kVersionLineText = "Version " DPC_VERSION " (June 2/15)";

// Asked before the carried firmware is installed, by the window and by the command-line tool alike.
constexpr const char* kInstallQuestion =
    "Installing this firmware will reset all settings to default.  Are you sure you want to continue?";

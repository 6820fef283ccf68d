// The firmware the tool carries: its image (an Intel HEX text built into the program), its version text
// and the version the controller reports once it runs it.
#pragma once

#include "device/reports.h"

#include <cstdint>
#include <span>

// The image, valid for the whole run of the program.
std::span<const uint8_t> CarriedFirmwareImage();
// Its version, as the Maintenance tab shows it: "2.01.0".
const char* FirmwareImageVersion();
// The same as the settings report's bytes 1 and 2 give it.
FirmwareVersion CarriedFirmwareVersion();

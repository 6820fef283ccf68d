// The virtual controller's factory settings and identity.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace sim {

constexpr uint16_t kProductId = 0x7410;
constexpr const char* kDevicePath = "virtual:7410/0";

// Firmware 1.05.2: older than the image the tool carries, so an update is offered.
constexpr uint8_t kFirmwareByte1 = 0x10;
constexpr uint8_t kFirmwareByte2 = 0x52;
// The 7407 keypad station, version 3, so every row can be seen.
constexpr uint8_t kStationByte = 0x73;
// Line level byte 64, shown as 74 %.
constexpr uint8_t kLevelByte = 64;

// One row per setting, by its name in the memory map. A choice's default is its list position; a text's is the text.
struct DefaultSetting {
    const char* key;
    int value;
    const char* text;
};

std::span<const DefaultSetting> DefaultSettings();

}  // namespace sim

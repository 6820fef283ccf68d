#include "device/reports.h"

#include <algorithm>

#include <cstdio>

void EncodeNumericParameter(std::span<uint8_t, report::kLongLength> buffer, int group, int index, int value)
{
    buffer[0] = report::kParameterId;
    buffer[1] = report::kNumericCommandLength;
    buffer[2] = report::Digit(group);
    buffer[3] = report::Digit(index);
    buffer[4] = report::Digit(value / 10);
    buffer[5] = report::Digit(value % 10);
}

void EncodeStringParameter(std::span<uint8_t, report::kLongLength> buffer, int group, int index, int length,
                           const char* text)
{
    buffer[0] = report::kParameterId;
    buffer[1] = static_cast<uint8_t>(length + 4);
    buffer[2] = report::Digit(group);
    buffer[3] = report::Digit(index);
    buffer[4] = report::Digit(length / 10);
    buffer[5] = report::Digit(length % 10);
    for (std::size_t i = 0; i < report::kMaxTextLength && text != nullptr && text[i] != '\0'; ++i) {
        buffer[6 + i] = static_cast<uint8_t>(text[i]);
    }
}

void EncodeRestoreDefaults(std::span<uint8_t, report::kLongLength> buffer)
{
    buffer[0] = report::kParameterId;
    buffer[1] = report::kRestoreCommandLength;
    buffer[2] = report::kRestoreDigit;
    buffer[3] = report::kRestoreDigit;
}

FirmwareVersion DecodeFirmwareVersion(uint8_t byte1, uint8_t byte2)
{
    const unsigned w = (static_cast<unsigned>(byte1) << 8) | byte2;
    return FirmwareVersion{static_cast<int>(w >> 12), static_cast<int>((w >> 4) & 0xFF),
                           static_cast<int>(w & 0x0F)};
}

std::array<uint8_t, 2> EncodeFirmwareVersion(const FirmwareVersion& version)
{
    const unsigned w = (static_cast<unsigned>(version.major & 0x0F) << 12) |
                       (static_cast<unsigned>(version.minor & 0xFF) << 4) | static_cast<unsigned>(version.build & 0x0F);
    return {static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(w & 0xFF)};
}

std::string FormatFirmwareVersion(const FirmwareVersion& version)
{
    char text[32];
    std::snprintf(text, sizeof text, "%d.%02d.%d", version.major, version.minor, version.build);
    return text;
}

StationInfo DecodeStation(uint8_t byte3)
{
    return StationInfo{byte3 >> 4, byte3 & 0x0F};
}

int DecodeLineLevelPercent(uint8_t byte4)
{
    return (255 - byte4) * 100 / 255;
}

std::string StringPoolText(std::span<const uint8_t> pool, int position)
{
    std::string text;
    if (position < 0) {
        return text;
    }
    for (std::size_t i = static_cast<std::size_t>(position); i < pool.size() && pool[i] != 0; ++i) {
        text.push_back(static_cast<char>(pool[i]));
    }
    return text;
}

void EncodeBootReport(std::span<uint8_t, report::kBootLength> buffer)
{
    std::fill(buffer.begin(), buffer.end(), 0);
    buffer[0] = report::kBootId;
    buffer[1] = report::kBootCommand;
}

void EncodeFirmwareChunk(std::span<uint8_t, report::kFirmwareChunkLength> buffer, const uint8_t* bytes,
                         std::size_t count)
{
    std::fill(buffer.begin(), buffer.end(), 0);
    buffer[0] = report::kFirmwareChunkId;
    buffer[1] = report::kFirmwareChunkCommand;
    std::copy_n(bytes, std::min(count, report::kChunkDataSize), buffer.begin() + 2);
}

#include "device/reports.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <tuple>

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

namespace {
std::optional<int> DigitValue(uint8_t c)
{
    if (c < '0' || c > '9') {
        return std::nullopt;
    }
    return c - '0';
}
}  // namespace

std::optional<ParameterCommand> DecodeParameterCommand(std::span<const uint8_t, report::kLongLength> report,
                                                       std::string& problem)
{
    const int commandLength = report[1];
    ParameterCommand command;
    if (commandLength == report::kRestoreCommandLength) {
        if (report[2] != report::kRestoreDigit || report[3] != report::kRestoreDigit) {
            problem = "two-byte command other than restore defaults";
            return std::nullopt;
        }
        command.restoreDefaults = true;
        return command;
    }
    if (commandLength < report::kNumericCommandLength ||
        commandLength > report::kNumericCommandLength + static_cast<int>(report::kMaxTextLength)) {
        problem = "command length " + std::to_string(commandLength);
        return std::nullopt;
    }
    const auto group = DigitValue(report[2]);
    const auto index = DigitValue(report[3]);
    const auto tens = DigitValue(report[4]);
    const auto units = DigitValue(report[5]);
    if (!group || !index || !tens || !units) {
        problem = "a digit of the command is not a digit";
        return std::nullopt;
    }
    command.group = *group;
    command.index = *index;
    command.number = *tens * 10 + *units;
    command.trailing.assign(report.begin() + 6, report.begin() + 2 + commandLength);
    return command;
}

std::span<const uint8_t> FirmwareChunkData(std::span<const uint8_t, report::kFirmwareChunkLength> report)
{
    return report.subspan(2, report::kChunkDataSize);
}

FirmwareVersion DecodeFirmwareVersion(uint8_t byte1, uint8_t byte2)
{
    const unsigned w = (static_cast<unsigned>(byte1) << 8) | byte2;
    return FirmwareVersion{static_cast<int>(w >> 12), static_cast<int>((w >> 4) & 0xFF), static_cast<int>(w & 0x0F)};
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

std::optional<FirmwareVersion> ParseFirmwareVersion(std::string_view text)
{
    int parts[3] = {0, 0, 0};
    const int limits[3] = {15, 255, 15};
    int count = 0;
    std::size_t start = 0;
    while (count < 3) {
        const std::size_t dot = text.find('.', start);
        const std::string_view part = text.substr(start, dot == std::string_view::npos ? text.npos : dot - start);
        const char* end = part.data() + part.size();
        auto [ptr, ec] = std::from_chars(part.data(), end, parts[count]);
        if (part.empty() || ec != std::errc() || ptr != end || parts[count] < 0 || parts[count] > limits[count]) {
            return std::nullopt;
        }
        ++count;
        if (dot == std::string_view::npos) {
            break;
        }
        start = dot + 1;
        if (count == 3) {
            return std::nullopt;  // a fourth part
        }
    }
    if (count < 2) {
        return std::nullopt;
    }
    return FirmwareVersion{parts[0], parts[1], parts[2]};
}

bool IsOlder(const FirmwareVersion& version, const FirmwareVersion& than)
{
    return std::tie(version.major, version.minor, version.build) < std::tie(than.major, than.minor, than.build);
}

StationInfo DecodeStation(uint8_t byte3)
{
    return StationInfo{byte3 >> 4, byte3 & 0x0F};
}

uint8_t EncodeStation(const StationInfo& station)
{
    return static_cast<uint8_t>(((station.model & 0x0F) << 4) | (station.version & 0x0F));
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

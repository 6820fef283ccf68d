// The controller's six feature reports: layouts, command encoding and header decoding.
// Every length counts the report-ID byte at position 0.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace report {

constexpr std::size_t kLongLength = 63;  // parameter, settings, string pool, firmware chunk

constexpr uint8_t kStatusId = 1;  // StatusReport, read
constexpr std::size_t kStatusLength = 8;
constexpr std::size_t kShortLength = 8;      // what GetShortReport reads, for ID 1 or 2
constexpr std::size_t kStatusProbeByte = 5;  // the one status byte the start-up probe looks at

constexpr uint8_t kBootId = 2;  // BootReport, written
constexpr std::size_t kBootLength = 7;
constexpr uint8_t kBootCommand = 0x41;  // "A"

constexpr uint8_t kParameterId = 3;  // ParameterReport, written
constexpr std::size_t kParameterLength = kLongLength;
constexpr std::size_t kMaxTextLength = 16;
// How much of a typed text is taken at all, judged and encoded: one long report's worth of characters.
constexpr std::size_t kEntryTextCapacity = kLongLength;
constexpr int kNumericCommandLength = 4;
constexpr int kRestoreCommandLength = 2;
constexpr uint8_t kRestoreDigit = 0x35;  // "5", twice

constexpr uint8_t kSettingsId = 4;  // SettingsReport, read
constexpr std::size_t kSettingsLength = kLongLength;

constexpr uint8_t kStringPoolId = 5;  // StringPoolReport, read
constexpr std::size_t kStringPoolLength = kLongLength;

constexpr uint8_t kFirmwareChunkId = 5;  // FirmwareChunkReport, written
constexpr std::size_t kFirmwareChunkLength = kLongLength;
constexpr uint8_t kFirmwareChunkCommand = 0x46;  // "F"
constexpr std::size_t kChunkDataSize = 61;

// Settings report header.
constexpr std::size_t kFirmwareByte1 = 1;
constexpr std::size_t kFirmwareByte2 = 2;
constexpr std::size_t kStationByte = 3;
constexpr std::size_t kLevelByte = 4;

// A setting (group, index) lives at settings byte 9 * group + index.
constexpr int SettingsPosition(int group, int index)
{
    return 9 * group + index;
}

constexpr uint8_t Digit(int value)
{
    return static_cast<uint8_t>(0x30 + value);
}

}  // namespace report

using ReportBytes = std::array<uint8_t, report::kLongLength>;

// Command encoders. They write only the command's bytes; the rest of the buffer is left as it is.
void EncodeNumericParameter(std::span<uint8_t, report::kLongLength> buffer, int group, int index, int value);
void EncodeStringParameter(std::span<uint8_t, report::kLongLength> buffer, int group, int index, int length,
                           const char* text);
void EncodeRestoreDefaults(std::span<uint8_t, report::kLongLength> buffer);
// A parameter report as the controller reads it: restore the defaults, or set the setting at (group,
// index) from the two-digit number, which is a choice's value or a text's length, and the bytes after it.
struct ParameterCommand {
    bool restoreDefaults = false;
    int group = 0;
    int index = 0;
    int number = 0;
    std::string trailing;  // the command's bytes after the number: a text command's characters
};
// Nothing, with the reason in `problem`, when the report holds no well-formed command.
std::optional<ParameterCommand> DecodeParameterCommand(std::span<const uint8_t, report::kLongLength> report,
                                                       std::string& problem);
// The line bytes a firmware chunk report carries, filler included: the chunk ends at its line's ".".
std::span<const uint8_t> FirmwareChunkData(std::span<const uint8_t, report::kFirmwareChunkLength> report);

// The boot report, "A" and a zero; and a firmware chunk, "F" and at most 61 bytes of a line, the rest zero.
void EncodeBootReport(std::span<uint8_t, report::kBootLength> buffer);
void EncodeFirmwareChunk(std::span<uint8_t, report::kFirmwareChunkLength> buffer, const uint8_t* bytes,
                         std::size_t count);

struct FirmwareVersion {
    int major = 0;  // 0..15
    int minor = 0;  // 0..255
    int build = 0;  // 0..15
    bool operator==(const FirmwareVersion&) const = default;
};

FirmwareVersion DecodeFirmwareVersion(uint8_t byte1, uint8_t byte2);
// The settings report's bytes 1 and 2 for a version.
std::array<uint8_t, 2> EncodeFirmwareVersion(const FirmwareVersion& version);
// "2.01.0": the minor with at least two digits.
std::string FormatFirmwareVersion(const FirmwareVersion& version);
// The reverse: "1.05.2" or "1.05"; nothing unless each part is a number in its range.
std::optional<FirmwareVersion> ParseFirmwareVersion(std::string_view text);
// Older by major, then minor, then build.
bool IsOlder(const FirmwareVersion& version, const FirmwareVersion& than);

struct StationInfo {
    int model = 0;  // 0: no station; 7: the 7407 keypad station
    int version = 0;
};
StationInfo DecodeStation(uint8_t byte3);
// The reverse: the model in the high nibble, the version in the low one (each cut to 0 to 15).
uint8_t EncodeStation(const StationInfo& station);

// 0 stands for 100 %, 255 for 0 %; the fraction is dropped.
int DecodeLineLevelPercent(uint8_t byte4);

// The text that starts at `position` of a string-pool report and runs to its zero byte. A position beyond
// the report gives an empty text; a text without a zero before the report's end is cut there.
std::string StringPoolText(std::span<const uint8_t> pool, int position);

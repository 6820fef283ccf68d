// The feature reports as the controller takes and gives them: their IDs, lengths and byte positions, and how
// it reads a parameter command. Written down on the controller's side, apart from the tool's encoders and
// decoders, so that the tool and the virtual controller meet only on the wire and a layout fault in either
// shows up there. Every length counts the report-ID byte at position 0.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace sim::reports {

constexpr std::size_t kLongLength = 63;  // parameter, settings, string pool, firmware chunk

constexpr uint8_t kStatusId = 1;  // get
constexpr std::size_t kStatusLength = 8;

constexpr uint8_t kBootId = 2;  // set: a download follows
constexpr std::size_t kBootLength = 7;
constexpr uint8_t kBootCommand = 'A';

constexpr uint8_t kParameterId = 3;  // set: one command
constexpr std::size_t kParameterLength = kLongLength;

constexpr uint8_t kSettingsId = 4;  // get: the header, then one byte per setting
constexpr std::size_t kSettingsLength = kLongLength;
constexpr std::size_t kFirmwareHighByte = 1;  // major, then the minor's upper four bits
constexpr std::size_t kFirmwareLowByte = 2;   // the minor's lower four bits, then the build
constexpr std::size_t kStationByte = 3;
constexpr std::size_t kLevelByte = 4;

constexpr uint8_t kStringPoolId = 5;  // get: the texts, each ended by a zero
constexpr std::size_t kStringPoolLength = kLongLength;
constexpr int kFirstTextPosition = 1;  // positions count from the report-ID byte

constexpr uint8_t kChunkId = 5;  // set, in download mode: part of one line of the image
constexpr std::size_t kChunkLength = kLongLength;
constexpr uint8_t kChunkCommand = 'F';
constexpr std::size_t kChunkDataStart = 2;
constexpr uint8_t kLineEnd = '.';  // stands for the line's CR; what follows it in the report is filler

constexpr std::size_t kLongestText = 16;

// A parameter command: restore every default, or the two-digit number (a choice's value or a text's length)
// and the characters after it for the setting at (group, index).
struct ParameterCommand {
    bool restoreDefaults = false;
    int group = 0;
    int index = 0;
    int number = 0;
    std::string text;       // the command's bytes after the number
    int commandLength = 0;  // byte 1
};

// Nothing, with the reason in `problem`, when the report holds no well-formed command.
std::optional<ParameterCommand> ReadParameterCommand(std::span<const uint8_t, kParameterLength> report,
                                                     std::string& problem);

// The settings report's bytes 1 and 2 for a firmware version.
std::array<uint8_t, 2> FirmwareBytes(int major, int minor, int build);

}  // namespace sim::reports

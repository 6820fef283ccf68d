#include "sim/controller_reports.h"

namespace sim::reports {

namespace {

constexpr std::size_t kLengthByte = 1;
constexpr std::size_t kGroupByte = 2;
constexpr std::size_t kIndexByte = 3;
constexpr std::size_t kTensByte = 4;
constexpr std::size_t kUnitsByte = 5;
constexpr std::size_t kTextStart = 6;
constexpr int kRestoreLength = 2;
constexpr uint8_t kRestoreDigit = '5';  // twice
constexpr int kNumericLength = 4;       // group, index and two digits; a text command adds its characters

std::optional<int> DigitValue(uint8_t c)
{
    if (c < '0' || c > '9') {
        return std::nullopt;
    }
    return c - '0';
}

}  // namespace

std::optional<ParameterCommand> ReadParameterCommand(std::span<const uint8_t, kParameterLength> report,
                                                     std::string& problem)
{
    ParameterCommand command;
    command.commandLength = report[kLengthByte];
    if (command.commandLength == kRestoreLength) {
        if (report[kGroupByte] != kRestoreDigit || report[kIndexByte] != kRestoreDigit) {
            problem = "two-byte command other than restore defaults";
            return std::nullopt;
        }
        command.restoreDefaults = true;
        return command;
    }
    if (command.commandLength < kNumericLength ||
        command.commandLength > kNumericLength + static_cast<int>(kLongestText)) {
        problem = "command length " + std::to_string(command.commandLength);
        return std::nullopt;
    }
    const auto group = DigitValue(report[kGroupByte]);
    const auto index = DigitValue(report[kIndexByte]);
    const auto tens = DigitValue(report[kTensByte]);
    const auto units = DigitValue(report[kUnitsByte]);
    if (!group || !index || !tens || !units) {
        problem = "a digit of the command is not a digit";
        return std::nullopt;
    }
    command.group = *group;
    command.index = *index;
    command.number = *tens * 10 + *units;
    command.text.assign(report.begin() + kTextStart, report.begin() + kGroupByte + command.commandLength);
    return command;
}

std::array<uint8_t, 2> FirmwareBytes(int major, int minor, int build)
{
    const unsigned word = (static_cast<unsigned>(major & 0x0F) << 12) | (static_cast<unsigned>(minor & 0xFF) << 4) |
                          static_cast<unsigned>(build & 0x0F);
    return {static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word & 0xFF)};
}

}  // namespace sim::reports

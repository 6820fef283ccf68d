// The reports the virtual controller answers and takes, as strictly as the real one is described: a
// malformed command fails its transfer and is recorded as a refusal.
#include "sim/controller_core.h"

#include "sim/controller_reports.h"
#include "sim/intel_hex.h"
#include "sim/memory_map.h"

#include <algorithm>

namespace sim {

namespace r = reports;

int VirtualController::Core::Get(uint8_t* data, std::size_t length, int& error)
{
    if (length == 0) {
        return Refuse("get with no report ID", error);
    }
    const uint8_t id = data[0];
    if (auto canned = cannedAnswers.find(id); canned != cannedAnswers.end() && !canned->second.empty()) {
        const std::vector<uint8_t> answer = std::move(canned->second.front());
        canned->second.pop_front();
        const std::size_t n = std::min(length, answer.size());
        std::copy_n(answer.begin(), n, data);
        return static_cast<int>(n);
    }
    if (id == r::kStatusId && length == r::kStatusLength) {
        std::fill_n(data + 1, length - 1, 0);
        return static_cast<int>(length);
    }
    if (id == r::kSettingsId && length == r::kSettingsLength) {
        std::fill_n(data + 1, length - 1, 0);
        data[r::kFirmwareHighByte] = memory.firmware1;
        data[r::kFirmwareLowByte] = memory.firmware2;
        data[r::kStationByte] = memory.station;
        data[r::kLevelByte] = memory.level;
        for (const auto& [byte, value] : memory.choices) {
            data[byte] = value;
        }
        // The string pool is laid out afresh from position 1 in settings-byte order; see the ID 5 answer.
        int position = r::kFirstTextPosition;
        for (const auto& [byte, text] : memory.texts) {
            data[byte] = static_cast<uint8_t>(position);
            position += static_cast<int>(text.size()) + 1;
        }
        return static_cast<int>(length);
    }
    if (id == r::kStringPoolId && length == r::kStringPoolLength) {
        std::fill_n(data + 1, length - 1, 0);
        std::size_t position = r::kFirstTextPosition;
        for (const auto& [byte, text] : memory.texts) {
            for (char c : text) {
                if (position < length) {
                    data[position++] = static_cast<uint8_t>(c);
                }
            }
            ++position;  // the zero
        }
        return static_cast<int>(length);
    }
    return Refuse("get of report " + std::to_string(id) + " with length " + std::to_string(length), error);
}

int VirtualController::Core::Set(const uint8_t* data, std::size_t length, int& error)
{
    if (length == 0) {
        return Refuse("set with no report ID", error);
    }
    const uint8_t id = data[0];
    if (id == r::kParameterId && length == r::kParameterLength) {
        return SetParameter(data, error);
    }
    if (id == r::kBootId && length == r::kBootLength) {
        if (data[1] != r::kBootCommand || data[2] != 0) {
            return Refuse("boot report other than \"A\"", error);
        }
        downloading = true;
        line.clear();
        upperAddress = nextAddress = 0;
        anyData = false;
        records = 0;
        return static_cast<int>(length);
    }
    if (id == r::kChunkId && length == r::kChunkLength) {
        return SetChunk(data, error);
    }
    return Refuse("set of report " + std::to_string(id) + " with length " + std::to_string(length), error);
}

int VirtualController::Core::SetChunk(const uint8_t* data, int& error)
{
    if (!downloading) {
        return Refuse("firmware chunk outside download mode", error);
    }
    if (data[1] != r::kChunkCommand) {
        downloading = false;
        return Refuse("firmware chunk without \"F\"", error);
    }
    // The line's bytes run up to the "." that stands for its CR; what follows in the report is filler.
    const uint8_t* begin = data + r::kChunkDataStart;
    const uint8_t* end = data + r::kChunkLength;
    const uint8_t* dot = std::find(begin, end, r::kLineEnd);
    line.append(begin, dot);
    constexpr std::size_t kLongestRecord = 2 * 255 + 11;
    if (line.size() > kLongestRecord) {
        downloading = false;
        return Refuse("firmware line longer than any record", error);
    }
    if (dot == end) {
        return static_cast<int>(r::kChunkLength);
    }
    const std::string record = std::move(line);
    line.clear();
    if (auto problem = TakeRecord(record)) {
        downloading = false;
        return Refuse("firmware record " + std::to_string(records + 1) + ": " + *problem, error);
    }
    return static_cast<int>(r::kChunkLength);
}

std::optional<std::string> VirtualController::Core::TakeRecord(const std::string& text)
{
    std::string problem;
    const std::optional<HexRecord> record = ParseHexRecord(text, problem);
    if (!record) {
        return problem;
    }
    const uint8_t type = record->type;
    const uint32_t offset = record->offset;
    const std::size_t count = record->data.size();
    switch (type) {
    case 0x00: {
        const uint32_t address = (upperAddress << 16) | offset;
        if (anyData && address != nextAddress) {
            return "data does not follow on from the last record";
        }
        anyData = true;
        nextAddress = address + static_cast<uint32_t>(count);
        break;
    }
    case 0x04:
        if (count != 2) {
            return "extended linear address record of the wrong length";
        }
        upperAddress = (static_cast<uint32_t>(record->data[0]) << 8) | record->data[1];
        break;
    case 0x01:
        if (!anyData) {
            return "end of file before any data";
        }
        ++records;
        downloading = false;
        ++programmed;
        ScheduleReboot();  // programming complete
        return std::nullopt;
    default:
        break;  // other record types carry nothing the controller needs
    }
    ++records;
    return std::nullopt;
}

int VirtualController::Core::SetParameter(const uint8_t* data, int& error)
{
    std::string problem;
    const std::optional<r::ParameterCommand> command =
        r::ReadParameterCommand(std::span<const uint8_t, r::kParameterLength>(data, r::kParameterLength), problem);
    if (!command) {
        return Refuse(problem, error);
    }
    if (command->restoreDefaults) {
        RestoreDefaults(memory);
        return static_cast<int>(r::kParameterLength);
    }
    const int group = command->group;
    const int index = command->index;
    const SettingSlot* slot = SlotAt({group, index});
    if (slot == nullptr) {
        return Refuse("no setting at (" + std::to_string(group) + "," + std::to_string(index) + ")", error);
    }
    const int number = command->number;
    if (slot->kind == SlotKind::Choice) {
        if (!command->text.empty()) {
            return Refuse(std::string("text command for choice setting ") + slot->name, error);
        }
        if (number >= slot->size) {
            return Refuse("value " + std::to_string(number) + " beyond the list of " + slot->name, error);
        }
        memory.choices[slot->settingsByte] = static_cast<uint8_t>(number);
        return static_cast<int>(r::kParameterLength);
    }
    // A text setting: the command's length is the text's plus four, within the setting's own most.
    if (command->text.size() != static_cast<std::size_t>(number)) {
        return Refuse("text length " + std::to_string(number) + " does not match command length " +
                          std::to_string(command->commandLength),
                      error);
    }
    if (number > slot->size) {
        return Refuse(std::string("text of ") + std::to_string(number) + " characters for " + slot->name +
                          ", which holds at most " + std::to_string(slot->size),
                      error);
    }
    std::string text = command->text;
    if (text.find('\0') != std::string::npos) {
        return Refuse(std::string("zero byte inside the text for ") + slot->name, error);
    }
    memory.texts[slot->settingsByte] = std::move(text);
    return static_cast<int>(r::kParameterLength);
}

}  // namespace sim

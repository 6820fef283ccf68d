#include "sim/state_file.h"

#include "portable/file_io.h"
#include "portable/file_lock.h"
#include "settings/catalogue.h"
#include "settings/entry_rules.h"
#include "settings/text_encoding.h"
#include "sim/memory_map.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstring>

namespace sim {

namespace {

constexpr const char* kFormat = "doorphoneconfig-virtual-controller";
constexpr std::size_t kLargestState = std::size_t{64} * 1024;

// A byte-sized integer field, or why not.
std::optional<uint8_t> ByteField(const nlohmann::json& value, const std::string& name, std::string& error)
{
    if (!value.is_number_integer() || value.get<int64_t>() < 0 || value.get<int64_t>() > 255) {
        error = name + " must be a whole number from 0 to 255";
        return std::nullopt;
    }
    return static_cast<uint8_t>(value.get<int64_t>());
}

bool Parse(const nlohmann::json& state, Memory& memory, std::string& error)
{
    if (!state.is_object() || !state.contains("format") || state["format"] != kFormat) {
        error = std::string("not a virtual controller state file (\"format\" is not \"") + kFormat + "\")";
        return false;
    }
    for (const char* field : {"firmware", "station", "level", "choices", "texts"}) {
        if (!state.contains(field)) {
            error = std::string("\"") + field + "\" is missing";
            return false;
        }
    }
    const nlohmann::json& firmware = state["firmware"];
    if (!firmware.is_array() || firmware.size() != 2) {
        error = "firmware must be two bytes";
        return false;
    }
    std::optional<uint8_t> f1 = ByteField(firmware[0], "firmware", error);
    std::optional<uint8_t> f2 = f1 ? ByteField(firmware[1], "firmware", error) : std::nullopt;
    std::optional<uint8_t> station = f2 ? ByteField(state["station"], "station", error) : std::nullopt;
    std::optional<uint8_t> level = station ? ByteField(state["level"], "level", error) : std::nullopt;
    if (!level) {
        return false;
    }
    memory.firmware1 = *f1;
    memory.firmware2 = *f2;
    memory.station = *station;
    memory.level = *level;
    if (!state["choices"].is_object() || !state["texts"].is_object()) {
        error = "choices and texts must be objects";
        return false;
    }
    for (const auto& [key, value] : state["choices"].items()) {
        const SettingSlot* slot = SlotNamed(key);
        if (slot == nullptr || slot->kind != SlotKind::Choice) {
            error = "choices: " + Excerpt(key) + " is not a choice setting";
            return false;
        }
        if (!value.is_number_integer() || value.get<int64_t>() < 0 || value.get<int64_t>() >= slot->size) {
            error = "choices: " + key + " must be a list position from 0 to " + std::to_string(slot->size - 1);
            return false;
        }
        memory.choices[slot->settingsByte] = static_cast<uint8_t>(value.get<int64_t>());
    }
    for (const auto& [key, value] : state["texts"].items()) {
        const SettingSlot* slot = SlotNamed(key);
        // The file holds only texts the tool could have written: each is held to its row's entry rule too.
        const CatalogueEntry* entry = FindEntryByKey(key);
        if (slot == nullptr || slot->kind != SlotKind::Text || entry == nullptr) {
            error = "texts: " + Excerpt(key) + " is not a text setting";
            return false;
        }
        std::optional<std::string> text = value.is_string() ? Utf8ToLatin1(value.get<std::string>()) : std::nullopt;
        if (!text) {
            error = "texts: " + key + " must be a text of 8-bit characters";
            return false;
        }
        const EntryVerdict verdict = CheckTextEntry(*entry, *text);
        if (!verdict.send) {
            error = "texts: " + key + " \"" + Excerpt(*text) + "\": " + verdict.message.value_or("not accepted");
            return false;
        }
        memory.texts[slot->settingsByte] = *text;
    }
    return true;
}

}  // namespace

std::optional<Memory> ParseState(const std::string& text, std::string& error)
{
    const nlohmann::json state = nlohmann::json::parse(text, nullptr, false);
    if (state.is_discarded()) {
        error = "not JSON";
        return std::nullopt;
    }
    Memory memory = FactoryMemory();
    if (!Parse(state, memory, error)) {
        return std::nullopt;
    }
    return memory;
}

std::string FormatState(const Memory& memory)
{
    nlohmann::json choices = nlohmann::json::object();
    nlohmann::json texts = nlohmann::json::object();
    for (const SettingSlot& slot : MemoryMap()) {
        if (slot.kind == SlotKind::Choice && memory.choices.count(slot.settingsByte)) {
            choices[slot.name] = memory.choices.at(slot.settingsByte);
        } else if (slot.kind == SlotKind::Text && memory.texts.count(slot.settingsByte)) {
            texts[slot.name] = Latin1ToUtf8(memory.texts.at(slot.settingsByte));
        }
    }
    const nlohmann::json state = {
        {"format", kFormat},         {"firmware", {memory.firmware1, memory.firmware2}},
        {"station", memory.station}, {"level", memory.level},
        {"choices", choices},        {"texts", texts},
    };
    return state.dump(2) + "\n";
}

std::unique_ptr<StateFile> StateFile::Open(const std::string& path, std::string& error,
                                           const std::function<void()>& waiting)
{
    if (std::string why = NotARegularFile(path); !why.empty()) {
        error = why;
        return nullptr;
    }
    // The lock lives in a file of its own beside the state, since replacing the state file makes a new one.
    // In a folder this user may not write, the state file itself carries the lock: the run can read it,
    // and a change it cannot save is reported then.
    const std::string lockPath = FinalPath(path) + ".lock";
    std::string lockError;
    std::unique_ptr<portable::FileLock> lock = portable::FileLock::Take(lockPath, true, waiting, lockError);
    if (!lock && lockError.starts_with("cannot open")) {
        lock = portable::FileLock::Take(path, false, waiting, error);
        if (!lock && error.starts_with("cannot open")) {
            error = "cannot make its lock " + lockPath + lockError.substr(std::string("cannot open").size());
        }
    } else if (!lock) {
        error = lockError;
    }
    if (!lock) {
        return nullptr;
    }
    Memory memory = FactoryMemory();
    if (!Missing(path)) {
        std::optional<std::string> text = ReadWholeFile(path, kLargestState, error);
        std::optional<Memory> parsed = text ? ParseState(*text, error) : std::nullopt;
        if (!parsed) {
            return nullptr;
        }
        memory = *parsed;
    }
    return std::unique_ptr<StateFile>(new StateFile(path, std::move(lock), memory));
}

StateFile::StateFile(std::string path, std::unique_ptr<portable::FileLock> lock, Memory loaded)
    : path_(std::move(path)), lock_(std::move(lock)), loaded_(std::move(loaded))
{
}

StateFile::~StateFile() = default;

bool StateFile::Save(const Memory& now, std::string& error)
{
    if (now == loaded_ && !Missing(path_)) {
        return true;
    }
    if (!ReplaceFileText(path_, FormatState(now), error)) {
        return false;
    }
    loaded_ = now;
    return true;
}

}  // namespace sim

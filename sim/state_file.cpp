#include "sim/state_file.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace sim {

namespace {
constexpr const char* kFormat = "doorphoneconfig-virtual-controller";
}

std::optional<Memory> LoadState(const std::string& path, std::string& error)
{
    std::ifstream in(path);
    if (!in) {
        if (errno == ENOENT) {
            return FactoryMemory();
        }
        error = std::strerror(errno);
        return std::nullopt;
    }
    try {
        const nlohmann::json state = nlohmann::json::parse(in);
        if (state.value("format", "") != kFormat) {
            error = std::string("not a virtual controller state file (\"format\" is not \"") + kFormat + "\")";
            return std::nullopt;
        }
        Memory memory = FactoryMemory();
        memory.firmware1 = state.at("firmware").at(0).get<uint8_t>();
        memory.firmware2 = state.at("firmware").at(1).get<uint8_t>();
        memory.station = state.at("station").get<uint8_t>();
        memory.level = state.at("level").get<uint8_t>();
        for (const auto& [key, value] : state.at("choices").items()) {
            const CatalogueEntry* entry = FindEntryByKey(key);
            if (entry == nullptr || entry->kind != EntryKind::Choice || value.get<int>() < 0 ||
                value.get<int>() >= entry->list->Size()) {
                error = "bad choice in the state file: " + key;
                return std::nullopt;
            }
            memory.choices[entry->settingsByte] = static_cast<uint8_t>(value.get<int>());
        }
        for (const auto& [key, value] : state.at("texts").items()) {
            const CatalogueEntry* entry = FindEntryByKey(key);
            if (entry == nullptr || entry->kind != EntryKind::Text || value.get<std::string>().size() > 16) {
                error = "bad text in the state file: " + key;
                return std::nullopt;
            }
            memory.texts[entry->settingsByte] = value.get<std::string>();
        }
        return memory;
    } catch (const nlohmann::json::exception& e) {
        error = std::string("cannot read the state file: ") + e.what();
        return std::nullopt;
    }
}

bool SaveState(const std::string& path, const Memory& memory, std::string& error)
{
    nlohmann::json choices = nlohmann::json::object();
    nlohmann::json texts = nlohmann::json::object();
    for (const CatalogueEntry& entry : ParameterCatalogue()) {
        if (entry.kind == EntryKind::Choice && memory.choices.count(entry.settingsByte)) {
            choices[entry.key] = memory.choices.at(entry.settingsByte);
        } else if (entry.kind == EntryKind::Text && memory.texts.count(entry.settingsByte)) {
            texts[entry.key] = memory.texts.at(entry.settingsByte);
        }
    }
    const nlohmann::json state = {
        {"format", kFormat},
        {"firmware", {memory.firmware1, memory.firmware2}},
        {"station", memory.station},
        {"level", memory.level},
        {"choices", choices},
        {"texts", texts},
    };
    // Written beside the target, then renamed over it, so a failed write never leaves half a file.
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << state.dump(2) << "\n";
        if (!out.flush()) {
            error = std::strerror(errno);
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = std::strerror(errno);
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace sim

// What the virtual controller holds, and its factory state.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace sim {

// What the controller holds. Choice values and text positions are by settings-report byte.
struct Memory {
    uint8_t firmware1 = 0;
    uint8_t firmware2 = 0;
    uint8_t station = 0;
    uint8_t level = 0;
    std::map<int, uint8_t> choices;    // settings byte -> list position
    std::map<int, std::string> texts;  // settings byte -> text
    bool operator==(const Memory&) const = default;
};

Memory FactoryMemory();
// Every setting and text back to its default; firmware, station and level stay.
void RestoreDefaults(Memory& memory);

}  // namespace sim

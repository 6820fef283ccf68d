// The controller's memory map: for every setting, the address a parameter command names it by, what it holds,
// and the settings-report byte it is reported at. This is the controller's own table, kept apart from the
// tool's catalogue on purpose: the virtual controller finds a setting the way the firmware does, so a wrong
// address or byte on the tool's side changes what lands in memory and fails the tests that look.
#pragma once

#include <span>
#include <string_view>

namespace sim {

struct SettingAddress {
    int group = 0;
    int index = 0;
    bool operator==(const SettingAddress&) const = default;
};

enum class SlotKind { Choice, Text };

struct SettingSlot {
    const char* name;  // as the defaults and the state file name it
    SettingAddress address;
    int settingsByte;
    SlotKind kind;
    int size;  // a choice: how many values it takes; a text: its most characters
};

std::span<const SettingSlot> MemoryMap();
// Null where the controller keeps no setting.
const SettingSlot* SlotAt(SettingAddress address);
const SettingSlot* SlotNamed(std::string_view name);

}  // namespace sim

#include "sim/memory.h"

#include "sim/defaults.h"
#include "sim/memory_map.h"

namespace sim {

Memory FactoryMemory()
{
    Memory memory;
    memory.firmware1 = kFirmwareByte1;
    memory.firmware2 = kFirmwareByte2;
    memory.station = kStationByte;
    memory.level = kLevelByte;
    RestoreDefaults(memory);
    return memory;
}

void RestoreDefaults(Memory& memory)
{
    memory.choices.clear();
    memory.texts.clear();
    for (const DefaultSetting& d : DefaultSettings()) {
        const SettingSlot* slot = SlotNamed(d.key);
        if (slot == nullptr) {
            continue;
        }
        if (slot->kind == SlotKind::Choice) {
            memory.choices[slot->settingsByte] = static_cast<uint8_t>(d.value);
        } else {
            memory.texts[slot->settingsByte] = d.text ? d.text : "";
        }
    }
}

}  // namespace sim

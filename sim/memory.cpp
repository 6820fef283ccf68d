#include "sim/memory.h"

#include "settings/catalogue.h"
#include "sim/defaults.h"

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
        const CatalogueEntry* entry = FindEntryByKey(d.key);
        if (entry == nullptr) {
            continue;
        }
        if (entry->kind == EntryKind::Choice) {
            memory.choices[entry->settingsByte] = static_cast<uint8_t>(d.value);
        } else if (entry->kind == EntryKind::Text) {
            memory.texts[entry->settingsByte] = d.text ? d.text : "";
        }
    }
}

}  // namespace sim

#include "sim/memory_map.h"

#include <algorithm>

namespace sim {

namespace {

constexpr SlotKind C = SlotKind::Choice;
constexpr SlotKind T = SlotKind::Text;

// Bytes 1 to 4 of the settings report are the status header, so group 0 starts at index 5.
// name                                 group,index  byte  kind  values or most characters
// A table laid out by hand.
// clang-format off
constexpr SettingSlot kMap[] = {
    {"maintenance.dtmf-password",          {0, 5},   5,   T,   4},
    {"dial.outgoing-call-mode",            {1, 1},  10,   C,   5},
    {"dial.incoming-call-mode",            {1, 2},  11,   C,   3},
    {"dial.outgoing-ring-limit",           {1, 3},  12,   C,  11},
    {"dial.cancel-ring-if-door-opened",    {1, 4},  13,   C,   2},
    {"dial.outgoing-dial-number",          {1, 5},  14,   T,  16},
    {"dial.keypad-dial-string-length",     {1, 6},  15,   C,  16},
    {"audio.speaker-volume",               {2, 1},  19,   C,  11},
    {"audio.microphone-level",             {2, 2},  20,   C,  11},
    {"audio.dsp",                          {2, 3},  21,   C,   2},
    {"audio.microphone-agc",               {2, 4},  22,   C,   2},
    {"audio.door-unlock-tone",             {2, 5},  23,   C,   3},
    {"door.open-code",                     {3, 1},  28,   T,   4},
    {"door.relay-time",                    {3, 2},  29,   C,  31},
    {"door.cancel-with-door-open",         {3, 3},  30,   C,   2},
    {"door.latch-open-code",               {3, 4},  31,   T,   4},
    {"door.release-code",                  {3, 5},  32,   T,   4},
    {"door.end-call-after-dtmf",           {3, 6},  33,   C,   2},
    {"door.employee-access-code",          {3, 7},  34,   T,   8},
    {"aux.controller-output",              {4, 1},  37,   C,   9},
    {"aux.station-output",                 {4, 2},  38,   C,   9},
    {"aux.door-relay-output",              {4, 3},  39,   C,   9},
    {"aux.controller-input",               {4, 4},  40,   C,   7},
    {"aux.station-input",                  {4, 5},  41,   C,   5},
    {"aux.keypad-call-button",             {4, 6},  42,   C,   3},
    {"aux.keypad-backlight",               {4, 7},  43,   C,   2},
    {"aux.backlight-brightness",           {4, 8},  44,   C,   2},
    {"alarm.max-door-open-time",           {5, 1},  46,   C,   8},
    {"alarm.ring-phone-upon-door-alarm",   {5, 2},  47,   C,   5},
    {"alarm.ring-this-number-instead",     {5, 3},  48,   T,  10},
    {"disconnect.type",                    {6, 1},  55,   C,   3},
    {"disconnect.loop-disconnect",         {6, 2},  56,   C,   5},
    {"disconnect.vox-timeout",             {6, 3},  57,   C,   6},
    {"disconnect.call-limit",              {6, 4},  58,   C,   9},
    {"disconnect.call-button-ends-call",   {6, 5},  59,   C,   3},
};
// clang-format on

}  // namespace

std::span<const SettingSlot> MemoryMap()
{
    return kMap;
}

const SettingSlot* SlotAt(SettingAddress address)
{
    const auto* slot =
        std::find_if(std::begin(kMap), std::end(kMap), [&](const SettingSlot& s) { return s.address == address; });
    return slot == std::end(kMap) ? nullptr : slot;
}

const SettingSlot* SlotNamed(std::string_view name)
{
    const auto* slot =
        std::find_if(std::begin(kMap), std::end(kMap), [&](const SettingSlot& s) { return name == s.name; });
    return slot == std::end(kMap) ? nullptr : slot;
}

}  // namespace sim

#include "sim/defaults.h"

namespace sim {

namespace {
// key                                   value  text
// A table laid out by hand.
// clang-format off
constexpr DefaultSetting kDefaults[] = {
    {"maintenance.dtmf-password",            0, "1234"},
    {"dial.outgoing-call-mode",              1, nullptr},  // Hotline Dial
    {"dial.incoming-call-mode",              0, nullptr},  // Answer Incoming Calls
    {"dial.outgoing-ring-limit",             5, nullptr},  // 5
    {"dial.cancel-ring-if-door-opened",      0, nullptr},  // No
    {"dial.outgoing-dial-number",            0, ""},
    {"dial.keypad-dial-string-length",       3, nullptr},  // 4
    {"audio.speaker-volume",                 5, nullptr},
    {"audio.microphone-level",               5, nullptr},
    {"audio.dsp",                            0, nullptr},  // with noise reduction
    {"audio.microphone-agc",                 0, nullptr},  // On
    {"audio.door-unlock-tone",               1, nullptr},  // Enabled
    {"door.open-code",                       0, "9"},
    {"door.relay-time",                      3, nullptr},  // 3 Seconds
    {"door.cancel-with-door-open",           0, nullptr},  // No
    {"door.latch-open-code",                 0, "*9"},
    {"door.release-code",                    0, "#9"},
    {"door.end-call-after-dtmf",             0, nullptr},  // No
    {"door.employee-access-code",            0, ""},
    {"aux.controller-output",                0, nullptr},  // In-Use
    {"aux.station-output",                   1, nullptr},  // Ring
    {"aux.door-relay-output",                3, nullptr},  // Door Control Function
    {"aux.controller-input",                 0, nullptr},  // Door Sensor, Normally Open Input
    {"aux.station-input",                    4, nullptr},  // Disabled
    {"aux.keypad-call-button",               0, nullptr},  // Call Button Only
    {"aux.keypad-backlight",                 0, nullptr},  // On
    {"aux.backlight-brightness",             0, nullptr},  // Bright
    {"alarm.max-door-open-time",             7, nullptr},  // None
    {"alarm.ring-phone-upon-door-alarm",     4, nullptr},  // None
    {"alarm.ring-this-number-instead",       0, ""},
    {"disconnect.type",                      0, nullptr},  // Loop Current
    {"disconnect.loop-disconnect",           2, nullptr},  // 0.5 Seconds
    {"disconnect.vox-timeout",               3, nullptr},  // 30 Seconds
    {"disconnect.call-limit",                6, nullptr},  // 10 Minutes
    {"disconnect.call-button-ends-call",     0, nullptr},  // No
};
// clang-format on
}  // namespace

std::span<const DefaultSetting> DefaultSettings()
{
    return kDefaults;
}

}  // namespace sim

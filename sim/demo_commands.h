// The demo's text commands for the virtual controller, one per line:
//   plug | unplug | station HEX | level N | latency MS | fail N [eio|epipe|etimedout] | answer ID HEX...
#pragma once

#include "sim/virtual_controller.h"

#include <optional>
#include <string>
#include <string_view>

namespace sim {

// Applies one command. Returns an error text (and changes nothing) when the line is not a valid command.
// Blank lines are ignored.
std::optional<std::string> ApplyDemoCommand(VirtualController& controller, std::string_view line);

}  // namespace sim

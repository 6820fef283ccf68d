// The demo's text commands for the virtual controller, one per line:
//   plug | unplug | next [VERSION] | attach [VERSION] | select PATH | station HEX | level N | latency MS | fail N [eio|epipe|etimedout] | answer ID HEX...
// next pulls out the current controller and plugs in a new one; attach plugs one in beside it; either runs
// firmware VERSION (e.g. 1.05.2) when given, else the factory firmware. The other commands act on the current
// controller: the one that came last, or the one chosen with select.
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

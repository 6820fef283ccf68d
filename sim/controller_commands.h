// The virtual controller's text commands, one per line:
//   plug | unplug | next [VERSION] | attach [VERSION] | select PATH | station HEX | level N | latency MS | fail N
//   [eio|epipe|etimedout|pullout] | answer ID HEX...
// next pulls out the unit the commands act on and plugs in a new one; attach plugs one in beside it; either
// runs firmware VERSION (e.g. 1.05.2) when given, else the factory firmware. The other commands act on the
// unit that came last (by next or attach), or the one chosen with select.
#pragma once

#include "resources/version.h"
#include "sim/virtual_controller.h"

#include <optional>
#include <string>
#include <string_view>

namespace sim {

// Every command with its arguments, as the help texts and the error for an unknown command list them.
inline constexpr const char* kControllerCommandList = DPC_CONTROLLER_COMMANDS;

// One reader of the commands for one bench: it keeps the unit its commands act on. Not shared between threads.
class ControllerCommands {
public:
    // The commands act on the unit that came last to the bench, until next, attach or select choose another.
    explicit ControllerCommands(VirtualController& bench);

    // Applies one command. Returns an error text (and changes nothing) when the line is not a valid command.
    // Blank lines are ignored.
    std::optional<std::string> Apply(std::string_view line);

    // The unit the commands act on now.
    VirtualUnit Unit() const { return unit_; }
    VirtualController& Bench() const { return bench_; }

private:
    VirtualController& bench_;
    VirtualUnit unit_;
};

}  // namespace sim

// The virtual controller's memory kept in a file between runs of the command-line tool.
#pragma once

#include "sim/virtual_controller.h"

#include <optional>
#include <string>

namespace sim {

// The memory in `path`, or the factory memory when the file does not exist. Nothing, with the reason in
// `error`, when the file exists but cannot be read as a state file.
std::optional<Memory> LoadState(const std::string& path, std::string& error);
bool SaveState(const std::string& path, const Memory& memory, std::string& error);

}  // namespace sim

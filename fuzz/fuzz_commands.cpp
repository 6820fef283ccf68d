// The virtual controller's commands as lines arrive on standard input or the control FIFO.
#include "sim/controller_commands.h"
#include "sim/line_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    sim::VirtualController controller;
    controller.FirstUnit().SetRebootTimes(std::chrono::hours(1), std::chrono::hours(1));
    sim::ControllerCommands commands(controller);
    sim::LineReader reader([&](const std::string& line) { commands.Apply(line); }, [] {});
    reader.Feed(std::string_view(reinterpret_cast<const char*>(data), size));
    reader.Finish();
    return 0;
}

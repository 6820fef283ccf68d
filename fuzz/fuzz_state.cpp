// The virtual controller's state file: whatever it parses must format and parse back the same.
#include "sim/state_file.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    std::string error;
    const std::optional<sim::Memory> memory =
        sim::ParseState(std::string(reinterpret_cast<const char*>(data), size), error);
    if (memory) {
        const std::optional<sim::Memory> again = sim::ParseState(sim::FormatState(*memory), error);
        if (!again || !(*again == *memory)) {
            std::abort();
        }
    }
    return 0;
}

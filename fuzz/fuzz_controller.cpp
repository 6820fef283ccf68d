// The virtual controller's report handling, download mode included: the input is a run of transfers, each
// a direction byte, a length byte and the report's bytes.
#include "sim/virtual_controller.h"

#include <algorithm>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    sim::VirtualController controller;
    controller.FirstUnit().SetRebootTimes(std::chrono::hours(1), std::chrono::hours(1));
    std::unique_ptr<sim::Connection> c = controller.Connect(controller.FirstUnit().Path());
    std::size_t i = 0;
    while (i + 2 <= size) {
        const bool isSet = data[i] & 1;
        const std::size_t length = std::min<std::size_t>(data[i + 1], 64);
        i += 2;
        std::vector<uint8_t> report(length, 0);
        std::copy_n(data + i, std::min(length, size - i), report.begin());
        i += length;
        std::string error;
        isSet ? c->SetFeature(report.data(), report.size(), error) : c->GetFeature(report.data(), report.size(), error);
    }
    return 0;
}

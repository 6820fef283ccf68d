// Measures the firmware stream against the virtual controller: with no latency (the tool's own cost per
// chunk report and per progress step) and with 1 ms per transfer (the wall time against the floor the
// device's pace sets). Prints a table; asserts nothing.
#include "device/device_link.h"
#include "device/firmware_stream.h"
#include "sim/virtual_controller.h"

#include <chrono>
#include <cstdio>

namespace {

using Clock = std::chrono::steady_clock;

struct Run {
    double seconds;
    long progressCalls;
    int transfers;
    bool ok;
};

Run StreamOnce(std::chrono::microseconds latency)
{
    sim::VirtualController controller;
    controller.FirstUnit().SetRebootTimes(std::chrono::hours(1), std::chrono::hours(1));
    controller.FirstUnit().SetLatency(latency);
    DeviceLink link(controller);
    link.FindDevice();
    std::FILE* devnull = std::fopen("/dev/null", "w");
    FirmwareStream stream(link, nullptr, devnull);
    long calls = 0;
    const int before = controller.FirstUnit().TransferCount();
    const auto start = Clock::now();
    stream.SendBootReport();
    const bool ok = stream.StreamFirmwareImage([&calls](uint32_t, uint32_t) { ++calls; });
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::fclose(devnull);
    return {seconds, calls, controller.FirstUnit().TransferCount() - before, ok};
}

}  // namespace

int main()
{
    constexpr int kRuns = 5;
    double best = 1e9;
    Run last{};
    for (int i = 0; i < kRuns; ++i) {
        last = StreamOnce(std::chrono::microseconds(0));
        best = std::min(best, last.seconds);
    }
    const int chunkReports = last.transfers - 1;
    std::printf("Firmware stream to the virtual controller (%zu-byte image)\n\n", CarriedFirmwareImage().size());
    std::printf("%-44s %14s\n", "measure", "value");
    std::printf("%-44s %14s\n", "--------------------------------------------", "--------------");
    std::printf("%-44s %14d\n", "transfers (boot report + chunk reports)", last.transfers);
    std::printf("%-44s %14ld\n", "progress steps", last.progressCalls);
    std::printf("%-44s %11.3f ms\n", "whole stream, no latency (best of 5)", best * 1e3);
    std::printf("%-44s %11.3f us\n", "per chunk report, no latency", best * 1e6 / chunkReports);
    std::printf("%-44s %11.3f ns\n", "per progress step, no latency",
                best * 1e9 / static_cast<double>(last.progressCalls));

    const Run paced = StreamOnce(std::chrono::milliseconds(1));
    const double floor = last.transfers * 1e-3;
    std::printf("%-44s %12.3f s\n", "whole stream, 1 ms per transfer", paced.seconds);
    std::printf("%-44s %14s\n", "goal for wall time / floor", "<= 1.01");
    std::printf("%-44s %12.3f s\n", "floor: transfers x 1 ms", floor);
    std::printf("%-44s %14.3f\n", "wall time / floor", paced.seconds / floor);
    std::printf("%-44s %14s\n", "every line sent", last.ok && paced.ok ? "yes" : "NO");
    return 0;
}

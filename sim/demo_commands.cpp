#include "sim/demo_commands.h"

#include <charconv>
#include <sstream>
#include <vector>

namespace sim {

namespace {

std::vector<std::string> Words(std::string_view line)
{
    std::istringstream in{std::string(line)};
    std::vector<std::string> words;
    for (std::string w; in >> w;) {
        words.push_back(w);
    }
    return words;
}

std::optional<long> Number(const std::string& text, int base, long min, long max)
{
    long value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
    if (ec != std::errc() || ptr != end || value < min || value > max) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

namespace {

// The commands that take one number: its base and range, what it is, and what it does.
struct NumberCommand {
    const char* name;
    int base;
    long min;
    long max;
    const char* what;
    void (*apply)(VirtualController&, long);
};

const NumberCommand kNumberCommands[] = {
    {"station", 16, 0, 0xFF, "the station byte in hex, e.g. 73",
     [](VirtualController& c, long v) { c.SetStation(static_cast<uint8_t>(v)); }},
    {"level", 10, 0, 255, "the level byte, 0 to 255",
     [](VirtualController& c, long v) { c.SetLineLevel(static_cast<uint8_t>(v)); }},
    {"latency", 10, 0, 60000, "milliseconds per transfer, 0 to 60000",
     [](VirtualController& c, long v) { c.SetLatency(std::chrono::milliseconds(v)); }},
    {"fail", 10, 1, 1000000, "which next transfer fails, 1 for the next",
     [](VirtualController& c, long v) { c.FailNthTransfer(static_cast<int>(v)); }},
};

}  // namespace

std::optional<std::string> ApplyDemoCommand(VirtualController& controller, std::string_view line)
{
    const std::vector<std::string> w = Words(line);
    if (w.empty()) {
        return std::nullopt;
    }
    const std::string& command = w[0];
    if (command == "plug" || command == "unplug") {
        if (w.size() != 1) {
            return command + ": takes no argument";
        }
        command == "plug" ? controller.Plug() : controller.Unplug();
        return std::nullopt;
    }
    for (const NumberCommand& c : kNumberCommands) {
        if (command != c.name) {
            continue;
        }
        const std::optional<long> value = w.size() == 2 ? Number(w[1], c.base, c.min, c.max) : std::nullopt;
        if (!value) {
            return command + ": expected " + c.what;
        }
        c.apply(controller, *value);
        return std::nullopt;
    }
    return "unknown command: " + command + " (plug, unplug, station HEX, level N, latency MS, fail N)";
}

}  // namespace sim

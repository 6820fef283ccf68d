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

std::optional<std::string> ApplyDemoCommand(VirtualController& controller, std::string_view line)
{
    const std::vector<std::string> w = Words(line);
    if (w.empty()) {
        return std::nullopt;
    }
    const std::string& command = w[0];
    auto needsOne = [&](const char* what) -> std::optional<std::string> {
        if (w.size() != 2) {
            return command + ": expected " + what;
        }
        return std::nullopt;
    };
    if (command == "plug" || command == "unplug") {
        if (w.size() != 1) {
            return command + ": takes no argument";
        }
        command == "plug" ? controller.Plug() : controller.Unplug();
        return std::nullopt;
    }
    if (command == "station") {
        if (auto e = needsOne("the station byte in hex, e.g. 73")) {
            return e;
        }
        auto v = Number(w[1], 16, 0, 0xFF);
        if (!v) {
            return "station: not a byte in hex: " + w[1];
        }
        controller.SetStation(static_cast<uint8_t>(*v));
        return std::nullopt;
    }
    if (command == "level") {
        if (auto e = needsOne("the level byte, 0 to 255")) {
            return e;
        }
        auto v = Number(w[1], 10, 0, 255);
        if (!v) {
            return "level: not a number from 0 to 255: " + w[1];
        }
        controller.SetLineLevel(static_cast<uint8_t>(*v));
        return std::nullopt;
    }
    if (command == "latency") {
        if (auto e = needsOne("milliseconds per transfer")) {
            return e;
        }
        auto v = Number(w[1], 10, 0, 60000);
        if (!v) {
            return "latency: not a number of milliseconds from 0 to 60000: " + w[1];
        }
        controller.SetLatency(std::chrono::milliseconds(*v));
        return std::nullopt;
    }
    if (command == "fail") {
        if (auto e = needsOne("which next transfer fails, 1 for the next")) {
            return e;
        }
        auto v = Number(w[1], 10, 1, 1000000);
        if (!v) {
            return "fail: not a positive number: " + w[1];
        }
        controller.FailNthTransfer(static_cast<int>(*v));
        return std::nullopt;
    }
    return "unknown command: " + command + " (plug, unplug, station HEX, level N, latency MS, fail N)";
}

}  // namespace sim

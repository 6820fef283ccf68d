#include "sim/controller_commands.h"

#include "sim/controller_reports.h"

#include <algorithm>
#include <cerrno>
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
    void (*apply)(VirtualUnit&, long);
};

const NumberCommand kNumberCommands[] = {
    {"station", 16, 0, 0xFF, "the station byte in hex, e.g. 73",
     [](VirtualUnit& c, long v) { c.SetStation(static_cast<uint8_t>(v)); }},
    {"level", 10, 0, 255, "the level byte, 0 to 255",
     [](VirtualUnit& c, long v) { c.SetLineLevel(static_cast<uint8_t>(v)); }},
    {"latency", 10, 0, 60000, "milliseconds per transfer, 0 to 60000",
     [](VirtualUnit& c, long v) { c.SetLatency(std::chrono::milliseconds(v)); }},
};

// How a failed transfer fails, by the errno the kernel's hidraw driver gives.
struct FailureKind {
    const char* name;
    int errnum;
};

const FailureKind kFailureKinds[] = {
    {"eio", EIO},              // the default: the transfer went wrong
    {"epipe", EPIPE},          // the device stalled the report
    {"etimedout", ETIMEDOUT},  // the device did not answer in time
    {"pullout", ENODEV},       // the controller is pulled out at that transfer, and stays out until plug
};

std::optional<std::string> ApplyFail(VirtualUnit& unit, const std::vector<std::string>& w)
{
    const std::optional<long> n = w.size() == 2 || w.size() == 3 ? Number(w[1], 10, 1, 1000000) : std::nullopt;
    if (!n) {
        return "fail: expected which next transfer fails, 1 for the next, then optionally eio, epipe, etimedout or "
               "pullout";
    }
    int errnum = EIO;
    if (w.size() == 3) {
        const FailureKind* kind = std::find_if(std::begin(kFailureKinds), std::end(kFailureKinds),
                                               [&](const FailureKind& k) { return w[2] == k.name; });
        if (kind == std::end(kFailureKinds)) {
            return "fail: " + w[2] + " is not eio, epipe, etimedout or pullout";
        }
        errnum = kind->errnum;
    }
    if (errnum == ENODEV) {
        unit.PullOutAfterNthTransfer(static_cast<int>(*n));
    } else {
        unit.FailNthTransfer(static_cast<int>(*n), errnum);
    }
    return std::nullopt;
}

// answer ID BYTES: the next get of report ID answers with these bytes (hex, byte 0 the ID), however many.
std::optional<std::string> ApplyAnswer(VirtualUnit& unit, const std::vector<std::string>& w)
{
    const std::optional<long> id = w.size() >= 2 ? Number(w[1], 10, 1, 255) : std::nullopt;
    if (!id || w.size() > 2 + reports::kLongLength) {
        return "answer: expected a report ID, then at most " + std::to_string(reports::kLongLength) + " bytes in hex";
    }
    std::vector<uint8_t> bytes;
    for (std::size_t i = 2; i < w.size(); ++i) {
        const std::optional<long> b = Number(w[i], 16, 0, 0xFF);
        if (!b) {
            return "answer: " + w[i] + " is not a byte in hex";
        }
        bytes.push_back(static_cast<uint8_t>(*b));
    }
    unit.AnswerNextGet(static_cast<uint8_t>(*id), std::move(bytes));
    return std::nullopt;
}

// next [VERSION] | attach [VERSION]: another controller with the factory memory, its firmware VERSION.
std::optional<std::string> ApplyNewUnit(VirtualController& bench, VirtualUnit& unit, const std::vector<std::string>& w)
{
    std::optional<FirmwareVersion> firmware;
    if (w.size() > 2 || (w.size() == 2 && !(firmware = ParseFirmwareVersion(w[1])))) {
        return w[0] + ": expected nothing, or the firmware the new controller runs, e.g. 1.05.2";
    }
    unit = w[0] == "next" ? bench.PlugNext(unit.Path(), firmware) : bench.Attach(firmware);
    return std::nullopt;
}

}  // namespace

ControllerCommands::ControllerCommands(VirtualController& bench)
    : bench_(bench), unit_(bench.Unit(bench.UnitPaths().back()))
{
}

std::optional<std::string> ControllerCommands::Apply(std::string_view line)
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
        command == "plug" ? unit_.Plug() : unit_.Unplug();
        return std::nullopt;
    }
    if (command == "next" || command == "attach") {
        return ApplyNewUnit(bench_, unit_, w);
    }
    if (command == "select") {
        std::optional<VirtualUnit> chosen = w.size() == 2 ? bench_.FindUnit(w[1]) : std::nullopt;
        if (!chosen) {
            return "select: expected the path of a controller on the bench, e.g. " + unit_.Path();
        }
        unit_ = *chosen;
        return std::nullopt;
    }
    if (command == "fail") {
        return ApplyFail(unit_, w);
    }
    if (command == "answer") {
        return ApplyAnswer(unit_, w);
    }
    for (const NumberCommand& c : kNumberCommands) {
        if (command != c.name) {
            continue;
        }
        const std::optional<long> value = w.size() == 2 ? Number(w[1], c.base, c.min, c.max) : std::nullopt;
        if (!value) {
            return command + ": expected " + c.what;
        }
        c.apply(unit_, *value);
        return std::nullopt;
    }
    return "unknown command: " + command + " (" + kControllerCommandList + ")";
}

}  // namespace sim

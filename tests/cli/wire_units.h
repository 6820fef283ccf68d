// A wire log of provision, whose lines each start with the unit they went to, taken apart by unit.
#pragma once

#include <map>
#include <sstream>
#include <string>

// Each unit's lines, without the unit: "SET 03 ... ok\n" each.
inline std::map<std::string, std::string> WireByUnit(const std::string& wire)
{
    std::map<std::string, std::string> units;
    std::istringstream in(wire);
    for (std::string line; std::getline(in, line);) {
        const std::size_t mark = line.find(": ");
        const std::string unit = mark == std::string::npos ? std::string() : line.substr(0, mark);
        units[unit] += (mark == std::string::npos ? line : line.substr(mark + 2)) + "\n";
    }
    return units;
}

// The lines of a log of one unit alone, without the unit.
inline std::string Untagged(const std::string& wire)
{
    std::string all;
    for (const auto& [unit, lines] : WireByUnit(wire)) {
        all += lines;
    }
    return all;
}

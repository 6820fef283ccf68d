// One Intel HEX record checked as the controller checks each line it receives: a ":" and hex digits, the
// byte count matching the record, and a valid checksum.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct HexRecord {
    uint16_t offset = 0;
    uint8_t type = 0;  // 0 data, 1 end of file, 4 extended linear address, ...
    std::vector<uint8_t> data;
};

// The record, or nothing with the reason in `problem`. `text` has no line end.
std::optional<HexRecord> ParseHexRecord(std::string_view text, std::string& problem);

}  // namespace sim

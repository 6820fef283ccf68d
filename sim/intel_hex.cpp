#include "sim/intel_hex.h"

namespace sim {

namespace {
int HexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}
}  // namespace

std::optional<HexRecord> ParseHexRecord(std::string_view text, std::string& problem)
{
    if (text.size() < 11 || text[0] != ':' || text.size() % 2 == 0) {
        problem = "not an Intel HEX record";
        return std::nullopt;
    }
    std::vector<uint8_t> bytes;
    for (std::size_t i = 1; i + 1 < text.size(); i += 2) {
        const int hi = HexValue(text[i]);
        const int lo = HexValue(text[i + 1]);
        if (hi < 0 || lo < 0) {
            problem = "a character that is not a hex digit";
            return std::nullopt;
        }
        bytes.push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
    if (bytes.size() != static_cast<std::size_t>(bytes[0]) + 5) {
        problem = "byte count does not match the record";
        return std::nullopt;
    }
    unsigned sum = 0;
    for (uint8_t b : bytes) {
        sum += b;
    }
    if ((sum & 0xFF) != 0) {
        problem = "bad checksum";
        return std::nullopt;
    }
    HexRecord record;
    record.offset = static_cast<uint16_t>((bytes[1] << 8) | bytes[2]);
    record.type = bytes[3];
    record.data.assign(bytes.begin() + 4, bytes.end() - 1);
    return record;
}

}  // namespace sim

// The carried firmware image has the controller's line structure and is a valid Intel HEX file.
#include "device/firmware_stream.h"
#include "sim/intel_hex.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

struct Record {
    std::string text;  // without CR LF
    int count;
    int address;
    int type;
    std::vector<uint8_t> data;
    bool checksumValid;
};

// Each line as the controller checks it.
std::vector<Record> Parse(std::span<const uint8_t> image)
{
    std::vector<Record> records;
    std::string text(image.begin(), image.end());
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = text.find("\r\n", pos);
        EXPECT_NE(end, std::string::npos) << "line without CR LF at " << pos;
        if (end == std::string::npos) {
            break;
        }
        Record r;
        r.text = text.substr(pos, end - pos);
        std::string problem;
        const std::optional<sim::HexRecord> parsed = sim::ParseHexRecord(r.text, problem);
        EXPECT_TRUE(parsed) << r.text << ": " << problem;
        if (parsed) {
            r.count = static_cast<int>(parsed->data.size());
            r.address = parsed->offset;
            r.type = parsed->type;
            r.data = parsed->data;
        }
        r.checksumValid = parsed.has_value();
        records.push_back(r);
        pos = end + 2;
    }
    return records;
}

TEST(FirmwareImage, SizeLinesAndCharacters)
{
    const auto image = CarriedFirmwareImage();
    EXPECT_EQ(image.size(), 197808u);
    for (uint8_t c : image) {
        const bool allowed = c == ':' || c == '\r' || c == '\n' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
        ASSERT_TRUE(allowed) << int(c);
    }
    EXPECT_EQ(image[image.size() - 2], '\r');
    EXPECT_EQ(image[image.size() - 1], '\n');
    EXPECT_STREQ(FirmwareImageVersion(), "2.01.0");
}

TEST(FirmwareImage, RecordsAddressesAndChecksums)
{
    const std::vector<Record> records = Parse(CarriedFirmwareImage());
    ASSERT_EQ(records.size(), 2580u);
    int full = 0;
    int shorter = 0;
    int upper = 0;
    long next = 0;
    long dataBytes = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const Record& r = records[i];
        SCOPED_TRACE("line " + std::to_string(i + 1));
        ASSERT_EQ(r.text[0], ':');
        EXPECT_TRUE(r.checksumValid);
        EXPECT_EQ(static_cast<std::size_t>(r.count), r.data.size());
        EXPECT_LE(r.text.size(), 75u);
        if (r.type == 0x00) {
            if (r.count == 32) {
                ++full;
                EXPECT_EQ(r.text.size(), 75u);
            } else {
                ++shorter;
                EXPECT_GE(r.count, 2);
                EXPECT_LE(r.count, 24);
            }
            EXPECT_EQ(upper * 65536L + r.address, next);  // one block, no gaps
            EXPECT_LE(r.address + r.count, 65536);
            next += r.count;
            dataBytes += r.count;
        } else if (r.type == 0x04) {
            EXPECT_EQ(i + 1, 2056u);
            EXPECT_EQ(next, 65536L);  // the records before it fill the first 64 KiB
            ASSERT_EQ(r.data.size(), 2u);
            upper = r.data[0] * 256 + r.data[1];
            EXPECT_EQ(upper, 1);
        } else {
            EXPECT_EQ(r.type, 0x01);
            EXPECT_EQ(i + 1, 2580u);
            EXPECT_EQ(r.text, ":00000001FF");
        }
    }
    EXPECT_EQ(full, 2560);
    EXPECT_EQ(shorter, 18);
    EXPECT_EQ(dataBytes, 82132);
    EXPECT_EQ(next - 1, 0x140D3);
}

}  // namespace

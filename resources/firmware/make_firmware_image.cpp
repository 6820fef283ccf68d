// Makes the firmware image the tool carries: an Intel HEX text whose line structure is
// the controller's (2,580 CR LF lines, 197,808 bytes, one gap-free block 0x00000..0x140D3 with an extended
// linear address record after the first 64 KiB). The data bytes are placeholders of our own, from a fixed
// pseudo-random sequence, so running this again gives the same file byte for byte.
//
//   make_firmware_image OUTPUT
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace {

uint32_t state = 0x74102010;

uint8_t NextByte()
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return static_cast<uint8_t>(state >> 24);
}

std::string Record(uint8_t type, uint16_t address, const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> bytes = {static_cast<uint8_t>(data.size()), static_cast<uint8_t>(address >> 8),
                                  static_cast<uint8_t>(address & 0xFF), type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (uint8_t b : bytes) {
        sum += b;
    }
    bytes.push_back(static_cast<uint8_t>(-sum & 0xFF));
    std::string line = ":";
    char hex[3];
    for (uint8_t b : bytes) {
        std::snprintf(hex, sizeof hex, "%02X", b);
        line += hex;
    }
    return line + "\r\n";
}

// One 64 KiB segment's data records: 32-byte records, with short ones of the given sizes at the given
// record numbers.
void Segment(std::string& out, int records, const std::vector<int>& shortAt, const std::vector<int>& shortSize)
{
    uint32_t offset = 0;
    std::size_t nextShort = 0;
    for (int i = 0; i < records; ++i) {
        int size = 32;
        if (nextShort < shortAt.size() && shortAt[nextShort] == i) {
            size = shortSize[nextShort++];
        }
        std::vector<uint8_t> data(static_cast<std::size_t>(size));
        for (uint8_t& b : data) {
            b = NextByte();
        }
        out += Record(0x00, static_cast<uint16_t>(offset), data);
        offset += static_cast<uint32_t>(size);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_firmware_image OUTPUT\n");
        return 2;
    }
    std::string image;
    // 0x00000..0x0FFFF: 2,047 full records and 8 short ones (32 bytes between them) fill the first 64 KiB.
    Segment(image, 2055, {100, 400, 700, 1000, 1300, 1600, 1900, 2050}, {2, 4, 6, 8, 2, 4, 2, 4});
    image += Record(0x04, 0x0000, {0x00, 0x01});
    // 0x10000..0x140D3: 513 full records and 10 short ones (180 bytes between them).
    Segment(image, 523, {50, 100, 150, 200, 250, 300, 350, 400, 450, 500}, {24, 20, 16, 12, 8, 24, 20, 16, 24, 16});
    image += Record(0x01, 0x0000, {});

    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr || std::fwrite(image.data(), 1, image.size(), out) != image.size() || std::fclose(out) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}

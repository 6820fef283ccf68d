// The ParameterReport senders byte for byte, and the decoding of the settings header and string pool.
#include "device/carried_firmware.h"
#include "device/device_link.h"
#include "device/reports.h"
#include "tests/device/fake_platform.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

using ::testing::ElementsAreArray;

namespace {

struct Senders : ::testing::Test {
    FakePlatform platform;
    DeviceLink link{platform};
    std::vector<std::vector<uint8_t>> sent;

    void SetUp() override
    {
        platform.interfaces = {{"/dev/hidraw0", 0x2E5A, 0x7410}};
        platform.configure = [this](FakeDevice& d) {
            d.onSet = [this](const uint8_t* data, std::size_t n, std::string&) {
                sent.emplace_back(data, data + n);
                return static_cast<int>(n);
            };
        };
        ASSERT_TRUE(link.FindDevice());
        link.ReportBuffer().fill(0);
    }

    // The first bytes of the last report, and a check that it went out at 63 bytes.
    std::vector<uint8_t> Head(std::size_t n)
    {
        EXPECT_EQ(sent.back().size(), 63u);
        return {sent.back().begin(), sent.back().begin() + static_cast<long>(n)};
    }
};

TEST_F(Senders, NumericParameter)
{
    ASSERT_TRUE(link.SendNumericParameter(2, 3, 7));
    const std::vector<uint8_t> expected = {0x03, 0x04, 0x32, 0x33, 0x30, 0x37};
    EXPECT_THAT(Head(6), ElementsAreArray(expected));
    for (std::size_t i = 6; i < 63; ++i) {
        EXPECT_EQ(sent.back()[i], 0) << i;
    }
    ASSERT_TRUE(link.SendNumericParameter(4, 8, 30));
    EXPECT_THAT(Head(6), ElementsAreArray({0x03, 0x04, 0x34, 0x38, 0x33, 0x30}));
    ASSERT_TRUE(link.SendNumericParameter(6, 5, 99));
    EXPECT_THAT(Head(6), ElementsAreArray({0x03, 0x04, 0x36, 0x35, 0x39, 0x39}));
}

TEST_F(Senders, StringParameter)
{
    ASSERT_TRUE(link.SendStringParameter(1, 5, 4, "0123"));
    EXPECT_THAT(Head(11), ElementsAreArray({0x03, 0x08, 0x31, 0x35, 0x30, 0x34, 0x30, 0x31, 0x32, 0x33, 0x00}));

    link.ReportBuffer().fill(0);
    ASSERT_TRUE(link.SendStringParameter(0, 5, 0, ""));
    EXPECT_THAT(Head(7), ElementsAreArray({0x03, 0x04, 0x30, 0x35, 0x30, 0x30, 0x00}));
}

TEST_F(Senders, StringParameterCopiesAtMostSixteenCharactersAndNoZero)
{
    link.ReportBuffer().fill(0xEE);
    ASSERT_TRUE(link.SendStringParameter(1, 5, 16, "1234567890123456789"));
    const auto& r = sent.back();
    EXPECT_EQ(r[1], 20);
    EXPECT_EQ(r[4], '1');
    EXPECT_EQ(r[5], '6');
    EXPECT_EQ(std::string(r.begin() + 6, r.begin() + 22), "1234567890123456");
    EXPECT_EQ(r[22], 0xEE);  // nothing written after the command
}

TEST_F(Senders, ANumericCommandAfterALongTextCarriesTheTextInItsFiller)
{
    ASSERT_TRUE(link.SendStringParameter(1, 5, 16, "9876543210987654"));
    ASSERT_TRUE(link.SendNumericParameter(2, 1, 3));
    const auto& r = sent.back();
    EXPECT_EQ(r[1], 4);
    EXPECT_EQ(std::string(r.begin() + 2, r.begin() + 6), "2103");
    EXPECT_EQ(std::string(r.begin() + 6, r.begin() + 22), "9876543210987654");
    EXPECT_EQ(r[22], 0);
}

TEST_F(Senders, RestoreDefaults)
{
    ASSERT_TRUE(link.SendNumericParameter(3, 2, 30));
    ASSERT_TRUE(link.SendRestoreDefaults());
    // Only four bytes are written; the old value digits stay behind as filler.
    EXPECT_THAT(Head(6), ElementsAreArray({0x03, 0x02, 0x35, 0x35, 0x33, 0x30}));
}

TEST_F(Senders, AFailedSendKeepsItsBytesInTheBuffer)
{
    platform.lastOpened->onSet = [](const uint8_t*, std::size_t, std::string&) { return -1; };
    EXPECT_FALSE(link.SendNumericParameter(5, 1, 7));
    EXPECT_EQ(link.ReportBuffer()[2], '5');
    EXPECT_EQ(link.ReportBuffer()[5], '7');
}

TEST(Header, FirmwareVersion)
{
    EXPECT_EQ(DecodeFirmwareVersion(0x20, 0x10), (FirmwareVersion{2, 1, 0}));
    EXPECT_EQ(FormatFirmwareVersion(DecodeFirmwareVersion(0x20, 0x10)), "2.01.0");
    EXPECT_EQ(DecodeFirmwareVersion(0x1F, 0xF3), (FirmwareVersion{1, 255, 3}));
    EXPECT_EQ(FormatFirmwareVersion(DecodeFirmwareVersion(0x1F, 0xF3)), "1.255.3");
    EXPECT_EQ(FormatFirmwareVersion(DecodeFirmwareVersion(0x00, 0x00)), "0.00.0");
    EXPECT_EQ(FormatFirmwareVersion(DecodeFirmwareVersion(0xFF, 0xFF)), "15.255.15");
}

TEST(Header, FirmwareVersionEncodesBackToItsBytesAndTheCarriedOneToItsText)
{
    for (auto [b1, b2] : {std::pair<uint8_t, uint8_t>{0x10, 0x52}, {0x20, 0x10}, {0xFF, 0xFF}, {0x00, 0x00}}) {
        const std::array<uint8_t, 2> bytes = EncodeFirmwareVersion(DecodeFirmwareVersion(b1, b2));
        EXPECT_EQ(bytes[0], b1);
        EXPECT_EQ(bytes[1], b2);
    }
    EXPECT_EQ(FormatFirmwareVersion(CarriedFirmwareVersion()), FirmwareImageVersion());
}

TEST(Header, Station)
{
    EXPECT_EQ(DecodeStation(0x73).model, 7);
    EXPECT_EQ(DecodeStation(0x73).version, 3);
    EXPECT_EQ(DecodeStation(0x15).model, 1);
    EXPECT_EQ(DecodeStation(0x15).version, 5);
    EXPECT_EQ(DecodeStation(0x00).model, 0);
    EXPECT_EQ(DecodeStation(0xFF).model, 15);
    EXPECT_EQ(DecodeStation(0xFF).version, 15);
    EXPECT_EQ(EncodeStation({7, 3}), 0x73);
    EXPECT_EQ(EncodeStation({1, 5}), 0x15);
    EXPECT_EQ(EncodeStation({}), 0x00);
    for (int byte = 0; byte <= 0xFF; ++byte) {
        EXPECT_EQ(EncodeStation(DecodeStation(static_cast<uint8_t>(byte))), byte);
    }
}

TEST(Header, LineLevel)
{
    EXPECT_EQ(DecodeLineLevelPercent(0), 100);
    EXPECT_EQ(DecodeLineLevelPercent(128), 49);
    EXPECT_EQ(DecodeLineLevelPercent(252), 1);
    EXPECT_EQ(DecodeLineLevelPercent(253), 0);
    EXPECT_EQ(DecodeLineLevelPercent(254), 0);
    EXPECT_EQ(DecodeLineLevelPercent(255), 0);
    // Integer and floating-point truncation agree for every byte.
    for (int b = 0; b < 256; ++b) {
        EXPECT_EQ(DecodeLineLevelPercent(static_cast<uint8_t>(b)), static_cast<int>((255.0 - b) / 255.0 * 100.0 + 1e-9))
            << b;
    }
}

TEST(StringPool, TextAtItsPosition)
{
    std::array<uint8_t, 63> pool{};
    pool[0] = 5;
    const char* digits = "0123";
    std::copy(digits, digits + 4, pool.begin() + 12);
    EXPECT_EQ(StringPoolText(pool, 12), "0123");
    EXPECT_EQ(StringPoolText(pool, 14), "23");
    EXPECT_EQ(StringPoolText(pool, 16), "");
    pool[1] = 'A';
    EXPECT_EQ(StringPoolText(pool, 1), "A");
}

TEST(StringPool, NothingIsReadBeyondTheReport)
{
    std::array<uint8_t, 63> pool;
    pool.fill('7');
    // No zero before the end: cut at the end.
    EXPECT_EQ(StringPoolText(pool, 60), "777");
    EXPECT_EQ(StringPoolText(pool, 62), "7");
    EXPECT_EQ(StringPoolText(pool, 63), "");
    EXPECT_EQ(StringPoolText(pool, 255), "");
    // A span that ends early is respected even if the bytes behind it exist.
    EXPECT_EQ(StringPoolText(std::span<const uint8_t>(pool.data(), 10), 8), "77");
}

}  // namespace

namespace {

TEST(ParameterCommand, DecodesWhatTheEncodersWrite)
{
    ReportBytes buffer{};
    std::string problem;
    EncodeNumericParameter(buffer, 4, 8, 30);
    auto numeric = DecodeParameterCommand(buffer, problem);
    ASSERT_TRUE(numeric);
    EXPECT_FALSE(numeric->restoreDefaults);
    EXPECT_EQ(numeric->group, 4);
    EXPECT_EQ(numeric->index, 8);
    EXPECT_EQ(numeric->number, 30);
    EXPECT_EQ(numeric->trailing, "");

    EncodeStringParameter(buffer, 1, 5, 16, "0123456789012345");
    auto text = DecodeParameterCommand(buffer, problem);
    ASSERT_TRUE(text);
    EXPECT_EQ(text->number, 16);
    EXPECT_EQ(text->trailing, "0123456789012345");

    // A shorter text after it: the longer one's characters stay in the filler but are not part of it.
    EncodeStringParameter(buffer, 1, 5, 2, "77");
    text = DecodeParameterCommand(buffer, problem);
    ASSERT_TRUE(text);
    EXPECT_EQ(text->trailing, "77");

    EncodeRestoreDefaults(buffer);
    auto restore = DecodeParameterCommand(buffer, problem);
    ASSERT_TRUE(restore);
    EXPECT_TRUE(restore->restoreDefaults);
}

TEST(ParameterCommand, RefusesWhatIsMalformed)
{
    std::string problem;
    ReportBytes buffer{};
    EncodeNumericParameter(buffer, 2, 3, 7);
    buffer[4] = 'x';
    EXPECT_FALSE(DecodeParameterCommand(buffer, problem));
    EXPECT_EQ(problem, "a digit of the command is not a digit");

    EncodeNumericParameter(buffer, 2, 3, 7);
    buffer[1] = 21;  // one past a 16-character text
    EXPECT_FALSE(DecodeParameterCommand(buffer, problem));
    buffer[1] = 3;
    EXPECT_FALSE(DecodeParameterCommand(buffer, problem));

    EncodeRestoreDefaults(buffer);
    buffer[3] = '6';
    EXPECT_FALSE(DecodeParameterCommand(buffer, problem));
}

TEST(FirmwareChunk, CarriesTheLineBytesAfterItsCommand)
{
    std::array<uint8_t, report::kFirmwareChunkLength> chunk{};
    const uint8_t line[] = {':', '0', '0', '.'};
    EncodeFirmwareChunk(chunk, line, sizeof line);
    const std::span<const uint8_t> data = FirmwareChunkData(chunk);
    ASSERT_EQ(data.size(), report::kChunkDataSize);
    EXPECT_EQ(std::vector<uint8_t>(data.begin(), data.begin() + 4), std::vector<uint8_t>(line, line + 4));
}

}  // namespace

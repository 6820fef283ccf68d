// The stream through the platform interface: chunking, the line rules, progress, trace and failures.
#include "device/firmware_stream.h"
#include "tests/device/fake_platform.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

struct Stream : ::testing::Test {
    FakePlatform platform;
    DeviceLink link{platform};
    std::vector<std::vector<uint8_t>> sent;
    std::vector<std::string> errorBoxes;
    int failAtSet = 0;  // 1-based; 0: none
    std::string imageText;
    bool imageMissing = false;
    std::FILE* trace = nullptr;
    std::unique_ptr<FirmwareStream> stream;

    void SetUp() override
    {
        platform.interfaces = {{"/dev/hidraw0", 0x2E5A, 0x7410}};
        platform.configure = [this](FakeDevice& d) {
            d.onSet = [this](const uint8_t* data, std::size_t n, std::string& error) {
                sent.emplace_back(data, data + n);
                if (static_cast<int>(sent.size()) == failAtSet) {
                    error = "Broken pipe";
                    return -1;
                }
                return static_cast<int>(n);
            };
        };
        ASSERT_TRUE(link.FindDevice());
        trace = std::tmpfile();  // removed when closed
        stream = std::make_unique<FirmwareStream>(
            link, [this](const std::string& text) { errorBoxes.push_back(text); }, trace,
            [this]() -> std::optional<std::span<const uint8_t>> {
                if (imageMissing) {
                    return std::nullopt;
                }
                return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(imageText.data()), imageText.size());
            });
    }
    void TearDown() override { std::fclose(trace); }

    std::string Trace()
    {
        std::fflush(trace);
        std::string text;
        std::rewind(trace);
        for (int c; (c = std::fgetc(trace)) != EOF;) {
            text.push_back(static_cast<char>(c));
        }
        std::fseek(trace, 0, SEEK_END);  // the stream goes on writing at its end
        return text;
    }

    bool Run(const std::string& image)
    {
        imageText = image;
        return stream->StreamFirmwareImage(
            [this](uint32_t consumed, uint32_t total) { progress.emplace_back(consumed, total); });
    }

    // The line bytes a chunk report carries, given how many there are.
    static std::string Data(const std::vector<uint8_t>& report, std::size_t n)
    {
        return std::string(report.begin() + 2, report.begin() + 2 + static_cast<long>(n));
    }
    static bool FillerIsZero(const std::vector<uint8_t>& report, std::size_t n)
    {
        for (std::size_t i = 2 + n; i < report.size(); ++i) {
            if (report[i] != 0) {
                return false;
            }
        }
        return true;
    }

    std::vector<std::pair<uint32_t, uint32_t>> progress;
};

TEST_F(Stream, BootReport)
{
    EXPECT_TRUE(stream->SendBootReport());
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_THAT(sent[0], ElementsAre(2, 0x41, 0, 0, 0, 0, 0));
}

TEST_F(Stream, ALineOf75CharactersGoesAs61And15)
{
    const std::string line(75, '7');
    ASSERT_TRUE(Run(line + "\r\n"));
    ASSERT_EQ(sent.size(), 2u);
    for (const auto& r : sent) {
        EXPECT_EQ(r.size(), 63u);
        EXPECT_EQ(r[0], 5);
        EXPECT_EQ(r[1], 'F');
    }
    EXPECT_EQ(Data(sent[0], 61), line.substr(0, 61));
    EXPECT_EQ(Data(sent[1], 15), line.substr(61) + ".");
    EXPECT_TRUE(FillerIsZero(sent[1], 15));
    EXPECT_EQ(Trace(), "#\n");
}

TEST_F(Stream, ALineOf60CharactersFillsOneChunk)
{
    const std::string line(60, 'A');
    ASSERT_TRUE(Run(line + "\r\n"));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(Data(sent[0], 61), line + ".");
}

TEST_F(Stream, AnEmptyLineIsADotAlone)
{
    ASSERT_TRUE(Run("\r\n"));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0][2], '.');
    EXPECT_TRUE(FillerIsZero(sent[0], 1));
}

TEST_F(Stream, ALineOf76CharactersEndsTheStreamBeforeAnyOfItGoes)
{
    ASSERT_FALSE(Run(":00\r\n" + std::string(76, '1') + "\r\n:11\r\n"));
    ASSERT_EQ(sent.size(), 1u);  // the first line only
    EXPECT_EQ(Data(sent[0], 4), ":00.");
    EXPECT_EQ(Trace(), "#unexpected error: line is longer than maximum\n\n");
    EXPECT_TRUE(errorBoxes.empty());
}

TEST_F(Stream, OnlyCRIsSpecial)
{
    // A lone LF belongs to its line; the byte after a CR is skipped unseen, whatever it is.
    ASSERT_TRUE(Run("a\nb\rXc\r\n"));
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(Data(sent[0], 4), "a\nb.");
    EXPECT_EQ(Data(sent[1], 2), "c.");
}

TEST_F(Stream, ACRAsTheLastByteSendsItsLine)
{
    ASSERT_TRUE(Run("xy\r"));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(Data(sent[0], 3), "xy.");
    EXPECT_EQ(progress.size(), 3u);
}

TEST_F(Stream, BytesAfterTheLastCRAreNotSent)
{
    ASSERT_TRUE(Run("ab\r\ncd"));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(Trace(), "#\n");
}

TEST_F(Stream, AnEmptyImage)
{
    ASSERT_TRUE(Run(""));
    EXPECT_TRUE(sent.empty());
    EXPECT_TRUE(progress.empty());
    EXPECT_EQ(Trace(), "\n");
}

TEST_F(Stream, AMissingImage)
{
    imageMissing = true;
    EXPECT_FALSE(stream->StreamFirmwareImage([this](uint32_t a, uint32_t b) { progress.emplace_back(a, b); }));
    EXPECT_TRUE(sent.empty());
    EXPECT_TRUE(progress.empty());
    EXPECT_EQ(Trace(), "");
}

TEST_F(Stream, AFailedFirstChunkOfATwoChunkLineStopsEverything)
{
    failAtSet = 2;
    ASSERT_FALSE(Run(":0\r\n" + std::string(70, '5') + "\r\n:1\r\n"));
    EXPECT_EQ(sent.size(), 2u);  // the first line, then the failed first chunk; its second chunk never goes
    EXPECT_THAT(errorBoxes, ElementsAre("Broken pipe"));
    EXPECT_EQ(Trace(), "#programming failed: SendWholeLine can't send\n\n");
}

TEST_F(Stream, AFailedSecondChunkEndsTheLineAndTheStream)
{
    failAtSet = 2;
    ASSERT_FALSE(Run(std::string(70, '5') + "\r\n:1\r\n"));
    EXPECT_EQ(sent.size(), 2u);
    EXPECT_EQ(errorBoxes.size(), 1u);
}

TEST_F(Stream, AStopRequestPreventsTheNextTransfer)
{
    imageText = ":0\r\n:1\r\n:2\r\n";
    int calls = 0;
    EXPECT_FALSE(stream->StreamFirmwareImage([&](uint32_t, uint32_t) {
        if (++calls == 5) {
            stream->RequestStop();
        }
    }));
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_TRUE(errorBoxes.empty());  // nobody is told: the window is going away
}

TEST_F(Stream, TheCarriedImage)
{
    const auto image = CarriedFirmwareImage();
    imageText.assign(image.begin(), image.end());
    ASSERT_TRUE(stream->SendBootReport());
    ASSERT_TRUE(stream->StreamFirmwareImage([this](uint32_t c, uint32_t t) { progress.emplace_back(c, t); }));

    ASSERT_EQ(progress.size(), 195228u);
    EXPECT_EQ(progress.front(), std::make_pair(0u, 197808u));
    EXPECT_EQ(progress.back(), std::make_pair(197806u, 197808u));
    for (std::size_t i = 1; i < progress.size(); ++i) {
        ASSERT_LT(progress[i - 1].first, progress[i].first);
    }
    EXPECT_EQ(Trace(), std::string(2580, '#') + "\n");

    // 5,140 chunk reports after the boot report; put back together they are the image's lines.
    ASSERT_EQ(sent.size(), 5141u);
    std::string rebuilt;
    int twoChunkLines = 0;
    for (std::size_t i = 1; i < sent.size(); ++i) {
        const auto& r = sent[i];
        ASSERT_EQ(r.size(), 63u);
        ASSERT_EQ(r[0], 5);
        ASSERT_EQ(r[1], 'F');
        const auto dot = std::find(r.begin() + 2, r.end(), '.');
        if (dot == r.end()) {
            rebuilt.append(r.begin() + 2, r.end());  // the full first chunk of a long line
            ++twoChunkLines;
        } else {
            rebuilt.append(r.begin() + 2, dot);
            rebuilt += "\r\n";
            ASSERT_TRUE(std::all_of(dot + 1, r.end(), [](uint8_t b) { return b == 0; }));
        }
    }
    EXPECT_EQ(twoChunkLines, 2560);
    EXPECT_EQ(rebuilt, imageText);
}

}  // namespace

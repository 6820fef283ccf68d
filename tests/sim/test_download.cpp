// The virtual controller's download mode: it takes a valid image line by line, refuses a bad record, and
// reboots into the new firmware with its settings kept.
#include "device/device_link.h"
#include "device/firmware_stream.h"
#include "sim/virtual_controller.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "portable/wait.h"

#include <thread>

using ::testing::SizeIs;

namespace {

struct Download : ::testing::Test {
    sim::VirtualController controller;
    DeviceLink link{controller};
    std::vector<std::string> errors;
    std::string image;
    std::FILE* devnull = std::fopen("/dev/null", "w");
    FirmwareStream stream{link, [this](const std::string& e) { errors.push_back(e); }, devnull,
                          [this] {
                              return std::optional(std::span<const uint8_t>(
                                  reinterpret_cast<const uint8_t*>(image.data()), image.size()));
                          }};

    void SetUp() override
    {
        controller.FirstUnit().SetRebootTimes(std::chrono::milliseconds(20), std::chrono::milliseconds(20));
        ASSERT_TRUE(link.FindDevice());
    }
    void TearDown() override { std::fclose(devnull); }

    bool Flash(const std::string& text)
    {
        image = text;
        stream.SendBootReport();
        return stream.StreamFirmwareImage({});
    }

    static std::vector<HotplugEvent> WaitForEvents(HotplugMonitor& monitor, std::size_t count)
    {
        std::vector<HotplugEvent> events;
        for (int i = 0; i < 200 && events.size() < count; ++i) {
            const portable::WaitHandle handles[] = {monitor.Waitable()};
            portable::WaitForAny(handles, 10);
            for (auto& e : monitor.ReadEvents()) {
                events.push_back(e);
            }
        }
        return events;
    }
};

TEST_F(Download, TheCarriedImageIsProgrammedAndTheControllerRebootsIntoIt)
{
    auto monitor = controller.CreateMonitor();
    ASSERT_TRUE(link.SendNumericParameter(2, 1, 9));
    const auto carried = CarriedFirmwareImage();
    ASSERT_TRUE(Flash(std::string(carried.begin(), carried.end())));
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(controller.FirstUnit().ProgrammingCount(), 1);
    EXPECT_EQ(controller.FirstUnit().RecordsReceived(), 2580);
    EXPECT_FALSE(controller.FirstUnit().InDownloadMode());

    const auto events = WaitForEvents(*monitor, 2);
    ASSERT_THAT(events, SizeIs(2));
    EXPECT_EQ(events[0].action, HotplugAction::Remove);
    EXPECT_EQ(events[1].action, HotplugAction::Add);
    ASSERT_TRUE(link.FindDevice());
    ReportBytes s{};
    s[0] = 4;
    ASSERT_TRUE(link.GetFeature(s.data(), s.size()));
    EXPECT_EQ(FormatFirmwareVersion(DecodeFirmwareVersion(s[1], s[2])), "2.01.0");
    EXPECT_EQ(controller.FirstUnit().ChoiceValue({2, 1}), 9);  // settings unchanged
}

TEST_F(Download, ChunksOutsideDownloadModeFail)
{
    image = ":0000000000\r\n";
    EXPECT_FALSE(stream.StreamFirmwareImage({}));
    EXPECT_THAT(errors, SizeIs(1));
    EXPECT_THAT(controller.FirstUnit().Refusals(), SizeIs(1));
}

TEST_F(Download, ABadRecordFailsItsTransferAndLeavesDownloadMode)
{
    const char* bad[] = {
        ":020000040001F8\r\n",      // checksum
        ":0300000400010000F8\r\n",  // wrong length for its type
        ":02000004000G01F9\r\n",    // not a hex digit
        ":04000000AABB00\r\n",      // byte count does not match
        "020000040001F9\r\n",       // no colon
    };
    for (const char* record : bad) {
        SCOPED_TRACE(record);
        errors.clear();
        EXPECT_FALSE(Flash(record));
        EXPECT_THAT(errors, SizeIs(1));
        EXPECT_FALSE(controller.FirstUnit().InDownloadMode());
    }
    EXPECT_EQ(controller.FirstUnit().ProgrammingCount(), 0);
}

TEST_F(Download, ALostLineIsNoticed)
{
    // Two data records with a gap between them.
    EXPECT_FALSE(Flash(":020000001122CB\r\n:02000400AABB95\r\n:00000001FF\r\n"));
    EXPECT_EQ(controller.FirstUnit().ProgrammingCount(), 0);
}

TEST_F(Download, EndOfFileWithoutDataProgramsNothing)
{
    EXPECT_FALSE(Flash(":00000001FF\r\n"));
    EXPECT_EQ(controller.FirstUnit().ProgrammingCount(), 0);
}

TEST_F(Download, AShortImageIsProgrammed)
{
    EXPECT_TRUE(Flash(":020000001122CB\r\n:02000200AABB97\r\n:00000001FF\r\n"));
    EXPECT_EQ(controller.FirstUnit().ProgrammingCount(), 1);
}

TEST_F(Download, DestroyingTheControllerDuringARebootDoesNotHang)
{
    controller.FirstUnit().SetRebootTimes(std::chrono::milliseconds(10), std::chrono::seconds(30));
    auto local = std::make_unique<sim::VirtualController>();
    local->FirstUnit().SetRebootTimes(std::chrono::milliseconds(0), std::chrono::seconds(30));
    DeviceLink l(*local);
    ASSERT_TRUE(l.FindDevice());
    FirmwareStream s(l, {}, devnull, [] {
        static const std::string text = ":020000001122CB\r\n:00000001FF\r\n";
        return std::optional(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    });
    s.SendBootReport();
    ASSERT_TRUE(s.StreamFirmwareImage({}));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    local.reset();  // must return at once, not after the reboot delay
    SUCCEED();
}

}  // namespace

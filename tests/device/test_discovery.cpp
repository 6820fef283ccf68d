// Discovery walk, the handle's lifetime and the short-report read.
#include "device/device_link.h"
#include "tests/device/fake_platform.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

constexpr uint16_t kVendor = 0x2E5A;

struct Discovery : ::testing::Test {
    FakePlatform platform;
    DeviceLink link{platform};
};

TEST_F(Discovery, NothingPresentLeavesNoHandle)
{
    EXPECT_FALSE(link.FindDevice());
    EXPECT_FALSE(link.HasDevice());
    EXPECT_THAT(platform.events->opened, IsEmpty());
    EXPECT_THAT(platform.events->enumeratedVendors, ElementsAre(kVendor));
}

TEST_F(Discovery, FirstOfTwoControllersIsOpenedAndTheSecondNever)
{
    platform.interfaces = {{"/dev/hidraw4", kVendor, 0x7411}, {"/dev/hidraw7", kVendor, 0x7410}};
    EXPECT_TRUE(link.FindDevice());
    EXPECT_EQ(link.DevicePath(), "/dev/hidraw4");
    EXPECT_THAT(platform.events->opened, ElementsAre("/dev/hidraw4"));
    EXPECT_THAT(platform.events->closed, IsEmpty());
}

TEST_F(Discovery, OtherProductOfTheVendorIsOpenedRejectedAndReleased)
{
    platform.interfaces = {{"/dev/hidraw1", kVendor, 0x1234}, {"/dev/hidraw2", kVendor, 0x7410}};
    EXPECT_TRUE(link.FindDevice());
    EXPECT_EQ(link.DevicePath(), "/dev/hidraw2");
    EXPECT_THAT(platform.events->opened, ElementsAre("/dev/hidraw1", "/dev/hidraw2"));
    EXPECT_THAT(platform.events->closed, ElementsAre("/dev/hidraw1"));
}

TEST_F(Discovery, ControllerProductOfAnotherVendorIsNeverOpened)
{
    // The walk asks for the controller's vendor only, so other vendors' devices are never touched.
    platform.interfaces = {{"/dev/hidraw1", 0x1111, 0x7410}};
    EXPECT_FALSE(link.FindDevice());
    EXPECT_THAT(platform.events->opened, IsEmpty());
}

TEST_F(Discovery, AttributesThatDisagreeWithTheEnumerationAreRejected)
{
    struct Lying : FakePlatform {
        std::vector<HidDeviceInfo> Enumerate(uint16_t vendorId) override
        {
            auto list = FakePlatform::Enumerate(0);
            for (auto& i : list) {
                i.vendorId = vendorId;  // listed under the controller's vendor
            }
            return list;
        }
    } lying;
    lying.interfaces = {{"/dev/hidraw1", 0x1111, 0x7410}, {"/dev/hidraw2", kVendor, 0x7410}};
    DeviceLink l(lying);
    EXPECT_TRUE(l.FindDevice());
    EXPECT_EQ(l.DevicePath(), "/dev/hidraw2");
    EXPECT_THAT(lying.events->closed, ElementsAre("/dev/hidraw1"));
}

TEST_F(Discovery, PathsThatCannotBeOpenedOrReadAreSkipped)
{
    platform.interfaces = {
        {"/dev/hidraw1", kVendor, 0x7410, /*openable=*/false},
        {"/dev/hidraw2", kVendor, 0x7410, true, /*attributesReadable=*/false},
        {"/dev/hidraw3", kVendor, 0x7410},
    };
    EXPECT_TRUE(link.FindDevice());
    EXPECT_EQ(link.DevicePath(), "/dev/hidraw3");
    EXPECT_THAT(platform.events->closed, ElementsAre("/dev/hidraw2"));
}

TEST_F(Discovery, AControllerThisUserMayNotOpenIsNamedOnlyWhileNoOtherIsFound)
{
    platform.interfaces = {{"/dev/hidraw1", kVendor, 0x0001, false}, {"/dev/hidraw4", kVendor, 0x7411, false}};
    EXPECT_FALSE(link.FindDevice());
    EXPECT_EQ(link.InaccessiblePath(), "/dev/hidraw4") << "a refused node of another product is no controller";
    EXPECT_THAT(controller::AccessAdvice("/dev/hidraw4"), ::testing::HasSubstr("/dev/hidraw4"));

    platform.interfaces.push_back({"/dev/hidraw5", kVendor, 0x7410});
    EXPECT_TRUE(link.FindDevice());
    EXPECT_EQ(link.InaccessiblePath(), "");

    platform.interfaces.clear();
    EXPECT_FALSE(link.FindDevice());
    EXPECT_EQ(link.InaccessiblePath(), "");
}

TEST_F(Discovery, NoMatchLeavesNoHandleAndReleasesEverything)
{
    platform.interfaces = {{"/dev/hidraw1", kVendor, 0x0001}, {"/dev/hidraw2", kVendor, 0x0002}};
    EXPECT_FALSE(link.FindDevice());
    EXPECT_FALSE(link.HasDevice());
    EXPECT_THAT(platform.events->closed, ElementsAre("/dev/hidraw1", "/dev/hidraw2"));
}

TEST_F(Discovery, FindingAgainOpensTheSameControllerAnewAndReleasesTheOldHandle)
{
    platform.interfaces = {{"/dev/hidraw1", kVendor, 0x7410}};
    ASSERT_TRUE(link.FindDevice());
    ASSERT_TRUE(link.FindDevice());
    EXPECT_TRUE(link.HasDevice());
    EXPECT_THAT(platform.events->opened, ElementsAre("/dev/hidraw1", "/dev/hidraw1"));
    EXPECT_THAT(platform.events->closed, ElementsAre("/dev/hidraw1"));
}

TEST_F(Discovery, ControllerGoneClearsTheHandle)
{
    platform.interfaces = {{"/dev/hidraw1", kVendor, 0x7410}};
    ASSERT_TRUE(link.FindDevice());
    platform.interfaces.clear();
    EXPECT_FALSE(link.FindDevice());
    EXPECT_FALSE(link.HasDevice());
    EXPECT_THAT(platform.events->closed, ElementsAre("/dev/hidraw1"));
    uint8_t buf[8] = {1};
    std::string error;
    EXPECT_FALSE(link.GetFeature(buf, sizeof buf, &error));
    EXPECT_FALSE(error.empty());
}

// A transfer on another thread keeps the handle it started with; FindDevice must not close it under it.
TEST_F(Discovery, HandleReplacedDuringATransferClosesOnlyWhenTheTransferReturns)
{
    platform.interfaces = {{"/dev/hidraw1", kVendor, 0x7410}};
    std::mutex m;
    std::condition_variable cv;
    bool inside = false;
    bool release = false;
    platform.configure = [&](FakeDevice& d) {
        d.onSet = [&](const uint8_t*, std::size_t n, std::string&) {
            std::unique_lock lock(m);
            inside = true;
            cv.notify_all();
            cv.wait(lock, [&] { return release; });
            return static_cast<int>(n);
        };
    };
    ASSERT_TRUE(link.FindDevice());
    platform.configure = nullptr;

    bool transferOk = false;
    std::thread worker([&] {
        uint8_t chunk[63] = {5, 'F'};
        transferOk = link.SetFeature(chunk, sizeof chunk);
    });
    {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return inside; });
    }
    ASSERT_TRUE(link.FindDevice());  // replaces the handle while the worker is inside a transfer on it
    EXPECT_THAT(platform.events->closed, IsEmpty());
    {
        std::lock_guard lock(m);
        release = true;
    }
    cv.notify_all();
    worker.join();
    EXPECT_TRUE(transferOk);
    EXPECT_THAT(platform.events->closed, ElementsAre("/dev/hidraw1"));
    EXPECT_EQ(platform.events->opened.size(), 2u);
}

TEST_F(Discovery, TheOldHandleStaysInPlaceUntilTheWalkEnds)
{
    struct Watching : FakePlatform {
        DeviceLink* link = nullptr;
        bool handleDuringWalk = false;
        std::vector<HidDeviceInfo> Enumerate(uint16_t vendorId) override
        {
            handleDuringWalk = link->HasDevice();
            return FakePlatform::Enumerate(vendorId);
        }
    } watching;
    watching.interfaces = {{"/dev/hidraw1", kVendor, 0x7410}};
    DeviceLink l(watching);
    watching.link = &l;
    ASSERT_TRUE(l.FindDevice());
    ASSERT_TRUE(l.FindDevice());
    EXPECT_TRUE(watching.handleDuringWalk);  // a transfer on another thread would still have had a handle
    EXPECT_THAT(watching.events->closed, ElementsAre("/dev/hidraw1"));
}

struct Transfers : Discovery {
    void SetUp() override
    {
        platform.interfaces = {{"/dev/hidraw1", kVendor, 0x7410}};
        platform.configure = [this](FakeDevice& d) {
            d.onGet = [this](uint8_t* data, std::size_t n, std::string&) {
                ++gets;
                for (std::size_t i = 1; i < n; ++i) {
                    data[i] = static_cast<uint8_t>(0xA0 + i);
                }
                return static_cast<int>(n - shortBy);
            };
        };
        ASSERT_TRUE(link.FindDevice());
    }
    int gets = 0;
    int shortBy = 0;
};

TEST_F(Transfers, ShortReportRefusesIdsOtherThanOneAndTwoWithoutTouchingTheBuffer)
{
    auto& buffer = link.ReportBuffer();
    buffer.fill(0x5A);
    for (int id : {0, 3, 4, 5, -1, 256}) {
        EXPECT_FALSE(link.GetShortReport(id)) << id;
    }
    EXPECT_EQ(gets, 0);
    for (uint8_t b : buffer) {
        EXPECT_EQ(b, 0x5A);
    }
}

TEST_F(Transfers, ShortReportReadsEightBytesAndLeavesTheRestOfTheBuffer)
{
    ASSERT_TRUE(link.SendStringParameter(1, 5, 16, "0123456789012345"));
    ASSERT_TRUE(link.GetShortReport(1));
    EXPECT_TRUE(link.GetShortReport(2));
    EXPECT_EQ(gets, 2);
    auto& b = link.ReportBuffer();
    EXPECT_EQ(b[0], 2);
    EXPECT_EQ(b[7], 0xA7);
    // Bytes 8 onwards still hold the text command's characters.
    EXPECT_EQ(b[8], '2');
    EXPECT_EQ(b[21], '5');
}

TEST_F(Transfers, AShortReadIsAFailedTransfer)
{
    shortBy = 1;
    uint8_t buf[63] = {4};
    EXPECT_FALSE(link.GetFeature(buf, sizeof buf));
    EXPECT_FALSE(link.GetShortReport(1));
}

TEST_F(Transfers, AShortWriteIsAFailedTransfer)
{
    platform.lastOpened->onSet = [](const uint8_t*, std::size_t n, std::string&) { return static_cast<int>(n) - 1; };
    EXPECT_FALSE(link.SendRestoreDefaults());
    platform.lastOpened->onSet = [](const uint8_t*, std::size_t, std::string& e) {
        e = "Broken pipe";
        return -1;
    };
    std::string error;
    uint8_t boot[7] = {2, 'A', 0};
    EXPECT_FALSE(link.SetFeature(boot, sizeof boot, &error));
    EXPECT_EQ(error, "Broken pipe");
}

}  // namespace

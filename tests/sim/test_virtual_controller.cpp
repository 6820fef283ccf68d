// The virtual controller's answers and refusals, all through the platform interface and the device link.
#include "device/device_link.h"
#include "device/reports.h"
#include "settings/catalogue.h"
#include "sim/defaults.h"
#include "sim/virtual_controller.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "portable/wait.h"

#include <chrono>
#include <thread>

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::SizeIs;

namespace {

struct Sim : ::testing::Test {
    sim::VirtualController controller;
    DeviceLink link{controller};

    void SetUp() override { ASSERT_TRUE(link.FindDevice()); }

    ReportBytes Get(uint8_t id, bool expectOk = true)
    {
        ReportBytes r{};
        r[0] = id;
        EXPECT_EQ(link.GetFeature(r.data(), r.size()), expectOk);
        return r;
    }

    // A raw ParameterReport with the given command bytes after byte 0.
    bool SetRaw(std::initializer_list<uint8_t> command)
    {
        ReportBytes r{};
        r[0] = 3;
        std::copy(command.begin(), command.end(), r.begin() + 1);
        return link.SetFeature(r.data(), r.size());
    }
};

TEST_F(Sim, IdentityAndDiscovery)
{
    auto list = controller.Enumerate(0x2E5A);
    ASSERT_THAT(list, SizeIs(1));
    EXPECT_EQ(list[0].productId, 0x7410);
    EXPECT_GE(list[0].path.size(), 5u);
    EXPECT_THAT(controller.Enumerate(0x1234), IsEmpty());
    EXPECT_EQ(link.DevicePath(), list[0].path);
}

TEST_F(Sim, StatusReport)
{
    ASSERT_TRUE(link.GetShortReport(1));
    EXPECT_EQ(link.ReportBuffer()[0], 1);
    // Any other length or an unknown ID fails.
    uint8_t shortStatus[7] = {1};
    EXPECT_FALSE(link.GetFeature(shortStatus, sizeof shortStatus));
    Get(2, false);
    Get(3, false);
    EXPECT_THAT(controller.FirstUnit().Refusals(), SizeIs(3));
}

TEST_F(Sim, SettingsReportHoldsTheHeaderAndEveryChoice)
{
    ReportBytes s = Get(4);
    EXPECT_EQ(s[0], 4);
    EXPECT_EQ(FormatFirmwareVersion(DecodeFirmwareVersion(s[1], s[2])), "1.05.2");
    EXPECT_EQ(DecodeStation(s[3]).model, 7);
    EXPECT_EQ(DecodeStation(s[3]).version, 3);
    EXPECT_EQ(s[4], sim::kLevelByte);
    for (const sim::DefaultSetting& d : sim::DefaultSettings()) {
        const CatalogueEntry* e = FindEntryByKey(d.key);
        ASSERT_NE(e, nullptr) << d.key;
        if (e->kind == EntryKind::Choice) {
            EXPECT_EQ(s[static_cast<std::size_t>(e->settingsByte)], d.value) << d.key;
        }
    }
    EXPECT_EQ(s[60], 0);
}

TEST_F(Sim, EverySettingHasADefault)
{
    for (const CatalogueEntry& e : ParameterCatalogue()) {
        if (e.kind == EntryKind::Status) {
            continue;
        }
        bool found = false;
        for (const sim::DefaultSetting& d : sim::DefaultSettings()) {
            found = found || std::string(d.key) == e.key;
        }
        EXPECT_TRUE(found) << e.key;
    }
}

TEST_F(Sim, StringPoolTextsAreFoundThroughTheirPositions)
{
    ASSERT_TRUE(link.SendStringParameter(3, 1, 4, "12#*"));
    ASSERT_TRUE(link.SendStringParameter(1, 5, 0, ""));
    ReportBytes s = Get(4);
    ReportBytes pool = Get(5);
    EXPECT_EQ(pool[0], 5);
    for (const CatalogueEntry& e : ParameterCatalogue()) {
        if (e.kind == EntryKind::Text) {
            EXPECT_EQ(StringPoolText(pool, s[static_cast<std::size_t>(e.settingsByte)]),
                      controller.FirstUnit().Text({e.address.group, e.address.index}))
                << e.key;
        }
    }
    EXPECT_EQ(StringPoolText(pool, s[28]), "12#*");
    EXPECT_EQ(StringPoolText(pool, s[5]), "1234");
    EXPECT_GE(s[5], 1);
}

TEST_F(Sim, AllTextsAtTheirLongestFitInThePool)
{
    for (const CatalogueEntry& e : ParameterCatalogue()) {
        if (e.kind == EntryKind::Text) {
            const std::string text(static_cast<std::size_t>(e.maxLength), '8');
            ASSERT_TRUE(link.SendStringParameter(e.address.group, e.address.index, e.maxLength, text.c_str()));
        }
    }
    ReportBytes s = Get(4);
    ReportBytes pool = Get(5);
    for (const CatalogueEntry& e : ParameterCatalogue()) {
        if (e.kind == EntryKind::Text) {
            EXPECT_EQ(StringPoolText(pool, s[static_cast<std::size_t>(e.settingsByte)]).size(),
                      static_cast<std::size_t>(e.maxLength));
        }
    }
}

TEST_F(Sim, EveryTextIsHeldToItsOwnMaximum)
{
    for (const CatalogueEntry& e : ParameterCatalogue()) {
        if (e.kind == EntryKind::Text) {
            SCOPED_TRACE(e.key);
            const std::string longer(static_cast<std::size_t>(e.maxLength) + 1, '8');
            const std::string before = controller.FirstUnit().Text({e.address.group, e.address.index});
            EXPECT_FALSE(link.SendStringParameter(e.address.group, e.address.index, e.maxLength + 1, longer.c_str()));
            EXPECT_EQ(controller.FirstUnit().Text({e.address.group, e.address.index}), before);
        }
    }
    // The string pool never overflows, since nothing longer than its setting's maximum gets in.
    EXPECT_THAT(controller.FirstUnit().Refusals(), SizeIs(7));
}

TEST_F(Sim, NumericTextAndRestoreCommandsChangeTheMemory)
{
    ASSERT_TRUE(link.SendNumericParameter(3, 2, 30));
    EXPECT_EQ(controller.FirstUnit().ChoiceValue({3, 2}), 30);
    ASSERT_TRUE(link.SendStringParameter(3, 7, 8, "12345678"));
    EXPECT_EQ(controller.FirstUnit().Text({3, 7}), "12345678");
    ASSERT_TRUE(link.SendStringParameter(1, 5, 16, "0123456789012345"));
    EXPECT_EQ(controller.FirstUnit().Text({1, 5}), "0123456789012345");

    controller.FirstUnit().SetStation(0x15);
    controller.FirstUnit().SetLineLevel(200);
    ASSERT_TRUE(link.SendRestoreDefaults());
    EXPECT_EQ(controller.FirstUnit().ChoiceValue({3, 2}), 3);
    EXPECT_EQ(controller.FirstUnit().Text({3, 7}), "");
    EXPECT_EQ(controller.FirstUnit().Text({0, 5}), "1234");
    // Restore leaves firmware, station and level alone.
    ReportBytes s = Get(4);
    EXPECT_EQ(s[1], sim::kFirmwareByte1);
    EXPECT_EQ(s[3], 0x15);
    EXPECT_EQ(s[4], 200);
    EXPECT_THAT(controller.FirstUnit().Refusals(), IsEmpty());
}

TEST_F(Sim, MalformedCommandsAreRefusedAndChangeNothing)
{
    const sim::Memory before = controller.FirstUnit().GetMemory();
    EXPECT_FALSE(SetRaw({5, '2', '1', '0', '3'}));                 // wrong length byte for a choice
    EXPECT_FALSE(SetRaw({4, '2', 'x', '0', '3'}));                 // not a digit
    EXPECT_FALSE(SetRaw({4, '2', '1', '0', ':'}));                 // not a digit
    EXPECT_FALSE(SetRaw({4, '2', '1', '1', '1'}));                 // beyond the list of 11
    EXPECT_FALSE(SetRaw({4, '1', '5', '0', '3'}));                 // numeric form for a text setting
    EXPECT_FALSE(SetRaw({4, '0', '1', '0', '1'}));                 // a status field, not a setting
    EXPECT_FALSE(SetRaw({4, '1', '7', '0', '1'}));                 // no such row
    EXPECT_FALSE(SetRaw({7, '3', '1', '0', '4', '1', '2', '3'}));  // text length 4, only 3 characters
    EXPECT_FALSE(SetRaw({2, '5', '4'}));                           // not the restore command
    EXPECT_FALSE(SetRaw({3, '5', '5', '0'}));                      // too short for any command
    EXPECT_FALSE(SetRaw({6, '3', '1', '0', '2', '1', 0}));         // a zero inside the text
    EXPECT_FALSE(SetRaw({21,  '1', '5', '1', '7', '0', '1', '2', '3', '4', '5',
                         '6', '7', '8', '9', '0', '1', '2', '3', '4', '5', '6'}));  // 17 characters
    std::string longer(17, '1');
    EXPECT_FALSE(link.SendStringParameter(1, 5, 17, longer.c_str()));
    ReportBytes shortReport{};
    shortReport[0] = 3;
    EXPECT_FALSE(link.SetFeature(shortReport.data(), 62));  // wrong report length
    EXPECT_THAT(controller.FirstUnit().Refusals(), SizeIs(14));

    const sim::Memory after = controller.FirstUnit().GetMemory();
    EXPECT_EQ(after.choices, before.choices);
    EXPECT_EQ(after.texts, before.texts);
    // The last entry of a list is accepted.
    EXPECT_TRUE(SetRaw({4, '2', '1', '1', '0'}));
}

TEST_F(Sim, DownloadReportsAreRefusedOutsideDownloadMode)
{
    uint8_t chunk[63] = {5, 'F', ':', '0', '0'};
    EXPECT_FALSE(link.SetFeature(chunk, sizeof chunk));
}

TEST_F(Sim, PullOutKillsOpenHandlesAndPlugInNeedsANewOne)
{
    controller.FirstUnit().Unplug();
    EXPECT_FALSE(link.GetShortReport(1));
    EXPECT_THAT(controller.Enumerate(0x2E5A), IsEmpty());
    EXPECT_FALSE(link.FindDevice());
    controller.FirstUnit().Plug();
    EXPECT_FALSE(link.GetShortReport(1));
    ASSERT_TRUE(link.FindDevice());
    EXPECT_TRUE(link.GetShortReport(1));
}

TEST_F(Sim, HandlesFromBeforeAReplugStayDead)
{
    auto old = controller.Open(controller.FirstUnit().Path());
    ASSERT_TRUE(old);
    controller.FirstUnit().Unplug();
    controller.FirstUnit().Plug();
    uint8_t status[8] = {1};
    std::string error;
    EXPECT_EQ(old->GetFeature(status, sizeof status, error), -1);
    EXPECT_FALSE(old->GetAttributes().has_value());
}

TEST_F(Sim, MonitorsHearPlugAndPullOut)
{
    auto monitor = controller.CreateMonitor();
    controller.FirstUnit().Unplug();
    controller.FirstUnit().Unplug();  // already out: no second event
    controller.FirstUnit().Plug();
    const portable::WaitHandle handles[] = {monitor->Waitable()};
    ASSERT_EQ(portable::WaitForAny(handles, 0), 0);
    auto events = monitor->ReadEvents();
    ASSERT_THAT(events, SizeIs(2));
    EXPECT_EQ(events[0].action, HotplugAction::Remove);
    EXPECT_EQ(events[1].action, HotplugAction::Add);
    EXPECT_EQ(events[1].devicePath, controller.FirstUnit().Path());
    EXPECT_EQ(portable::WaitForAny(handles, 0), -1);
    EXPECT_THAT(monitor->ReadEvents(), IsEmpty());
}

TEST_F(Sim, FailTheNthNextTransfer)
{
    controller.FirstUnit().FailNthTransfer(2);
    EXPECT_TRUE(link.GetShortReport(1));
    EXPECT_FALSE(link.GetShortReport(1));
    EXPECT_TRUE(link.GetShortReport(1));
}

TEST_F(Sim, FailEveryTransferFromTheNth)
{
    controller.FirstUnit().FailFromNthTransfer(1);
    EXPECT_FALSE(link.GetShortReport(1));
    EXPECT_FALSE(link.SendRestoreDefaults());
    controller.FirstUnit().ClearFaults();
    EXPECT_TRUE(link.GetShortReport(1));
}

TEST_F(Sim, PullOutAfterTheNthTransfer)
{
    auto monitor = controller.CreateMonitor();
    controller.FirstUnit().PullOutAfterNthTransfer(2);
    EXPECT_TRUE(link.GetShortReport(1));
    EXPECT_FALSE(link.GetShortReport(1));
    EXPECT_FALSE(controller.FirstUnit().IsPlugged());
    auto events = monitor->ReadEvents();
    ASSERT_THAT(events, SizeIs(1));
    EXPECT_EQ(events[0].action, HotplugAction::Remove);
}

TEST_F(Sim, CannedAnswerForTheNextGet)
{
    std::vector<uint8_t> odd(63, 0xFF);
    odd[0] = 4;
    controller.FirstUnit().AnswerNextGet(4, odd);
    EXPECT_EQ(Get(4)[10], 0xFF);
    EXPECT_EQ(Get(4)[10], 1);                                // once only
    controller.FirstUnit().AnswerNextGet(5, {5, 'a', 'b'});  // shorter than asked: a failed read
    Get(5, false);
}

// Every unit is named: the first stays the first whatever comes after it, each call reaches the unit it
// names, and a new unit takes its pace and reboot times from the one it replaces or, beside the others, from
// the one that came last.
TEST_F(Sim, EachCallReachesTheUnitItNames)
{
    controller.FirstUnit().SetLatency(std::chrono::microseconds(5));
    sim::VirtualUnit second = controller.Attach(*ParseFirmwareVersion("1.04.1"));
    second.SetLatency(std::chrono::microseconds(7));
    const sim::VirtualUnit third = controller.Attach();
    EXPECT_EQ(third.Latency(), std::chrono::microseconds(7));
    EXPECT_EQ(controller.FirstUnit().Path(), sim::kDevicePath);
    EXPECT_EQ(second.Path(), "virtual:7410/1");
    EXPECT_EQ(controller.Unit("virtual:7410/1").GetMemory().firmware2, 0x41);

    second.SetStation(0x15);
    controller.Unit(third.Path()).SetLineLevel(9);
    EXPECT_EQ(controller.MemoryOf("virtual:7410/1")->station, 0x15);
    EXPECT_NE(controller.FirstUnit().GetMemory().station, 0x15);
    EXPECT_EQ(third.GetMemory().level, 9);
    EXPECT_NE(second.GetMemory().level, 9);

    const sim::VirtualUnit fourth = controller.PlugNext(sim::kDevicePath);
    EXPECT_FALSE(controller.FirstUnit().IsPlugged());
    EXPECT_TRUE(second.IsPlugged());
    EXPECT_TRUE(third.IsPlugged());
    EXPECT_EQ(fourth.Latency(), std::chrono::microseconds(5));
    EXPECT_EQ(controller.UnitPaths(),
              (std::vector<std::string>{sim::kDevicePath, "virtual:7410/1", "virtual:7410/2", "virtual:7410/3"}));

    EXPECT_FALSE(controller.FindUnit("virtual:7410/9"));
    EXPECT_THROW(controller.Unit("virtual:7410/9"), std::invalid_argument);
    EXPECT_THROW(controller.PlugNext("virtual:7410/9"), std::invalid_argument);
    EXPECT_EQ(controller.UnitPaths().size(), 4u);
}

}  // namespace

namespace {

TEST_F(Sim, TheLatencyDelaysEveryTransferAlsoOneAfterAPause)
{
    constexpr auto kLatency = std::chrono::milliseconds(150);
    controller.FirstUnit().SetLatency(kLatency);
    Get(report::kSettingsId);  // a first transfer, then a pause longer than the latency
    std::this_thread::sleep_for(2 * kLatency);
    const auto start = std::chrono::steady_clock::now();
    Get(report::kSettingsId);
    // A lower bound only: the transfer waited for the controller at least this long.
    EXPECT_GE(std::chrono::steady_clock::now() - start, kLatency);
}

}  // namespace

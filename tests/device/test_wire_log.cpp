// The wire log's line format, through the device link.
#include "device/device_link.h"
#include "device/wire_log.h"
#include "tests/device/fake_platform.h"
#include "tests/scratch_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(WireLog, OneLinePerTransferInTheDocumentedFormat)
{
    const std::filesystem::path dir = MakeScratchDir("wirelog");
    const std::string path = (dir / "wire.log").string();

    FakePlatform platform;
    platform.interfaces = {{"/dev/hidraw0", 0x2E5A, 0x7410}};
    platform.configure = [](FakeDevice& d) {
        d.onGet = [](uint8_t* data, std::size_t n, std::string&) {
            for (std::size_t i = 1; i < n; ++i) {
                data[i] = static_cast<uint8_t>(0xF0 + i);
            }
            return static_cast<int>(n);
        };
    };
    DeviceLink link(platform);
    std::string error;
    std::shared_ptr<WireLog> log = WireLog::Open(path, error);
    ASSERT_TRUE(log) << error;
    link.SetWireLog(log);
    ASSERT_TRUE(link.FindDevice());

    link.ReportBuffer().fill(0);
    ASSERT_TRUE(link.SendNumericParameter(2, 3, 7));
    ASSERT_TRUE(link.GetShortReport(1));
    platform.lastOpened->onSet = [](const uint8_t*, std::size_t, std::string&) { return -1; };
    uint8_t boot[7] = {2, 0x41, 0, 0, 0, 0, 0xAB};
    EXPECT_FALSE(link.SetFeature(boot, sizeof boot));

    std::string expectedSet = "SET 03 04 32 33 30 37";
    for (int i = 6; i < 63; ++i) {
        expectedSet += " 00";
    }
    expectedSet += " ok\n";
    const std::string expectedGet = "GET 01 f1 f2 f3 f4 f5 f6 f7 ok\n";
    const std::string expectedFail = "SET 02 41 00 00 00 00 ab fail\n";
    EXPECT_EQ(ReadFile(path), expectedSet + expectedGet + expectedFail);
    link.SetWireLog(nullptr);
    log.reset();  // closed first: Windows removes no open file
    std::filesystem::remove_all(dir);
}

TEST(WireLog, TransfersWithoutADeviceAreLoggedAsFailed)
{
    EXPECT_EQ(WireLog::FormatLine(false, std::array<uint8_t, 2>{4, 0}.data(), 2, false), "GET 04 00 fail\n");
}

TEST(WireLog, UnwritablePathIsReported)
{
    std::string error;
    EXPECT_EQ(WireLog::Open("/nonexistent-dir/x.log", error), nullptr);
    EXPECT_FALSE(error.empty());
}

}  // namespace

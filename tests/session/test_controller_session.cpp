// The session's install on the virtual controller: the stream is the session's own, on the controller open
// when the install begins, and a stop from another thread ends it before its next transfer.
#include "session/controller_session.h"

#include "portable/system.h"
#include "sim/virtual_controller.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

TEST(SessionInstall, StreamsToTheControllerOpenAtItsStartUntilAStop)
{
    sim::VirtualController bench;
    DeviceLink link{bench};
    ControllerSession session{link};
    EXPECT_EQ(session.RunInstall(nullptr), ControllerSession::Streamed::Failed);  // none begun

    ASSERT_TRUE(session.FindDevice());
    sim::VirtualUnit unit = bench.FirstUnit();
    SettingsSnapshot before;
    ASSERT_TRUE(session.ReadSettings(before));
    std::string chunkError;
    InstallReports reports;
    reports.onChunkError = [&](const std::string& text) { chunkError = text; };
    session.BeginInstall(&before, std::move(reports));
    // Stopped from another thread at the first step: the boot report went, no chunk after it.
    const ControllerSession::Streamed stopped =
        session.RunInstall([&](uint32_t, uint32_t) { std::thread([&] { session.StopInstall(); }).join(); });
    EXPECT_EQ(stopped, ControllerSession::Streamed::Failed);
    EXPECT_TRUE(session.InstallStopRequested());
    EXPECT_TRUE(unit.InDownloadMode());
    EXPECT_EQ(unit.RecordsReceived(), 0);
    EXPECT_EQ(chunkError, "");

    // Begun again, it runs whole.
    session.BeginInstall(&before);
    EXPECT_FALSE(session.InstallStopRequested());
    EXPECT_EQ(session.RunInstall(nullptr, /*needBootReport=*/true), ControllerSession::Streamed::AllLines);
    EXPECT_EQ(unit.ProgrammingCount(), 1);
}

// A bench shared with other programs, as the system's controllers are: holds are taken for real.
class SharedBench : public sim::VirtualController {
public:
    bool SharedWithOtherPrograms() const override { return true; }
};

TEST(SessionHold, AControllerGoneBeforeItsHoldIsNotThereRatherThanRefused)
{
    if (portable::kWindows) {
        GTEST_SKIP() << "a lock file stands for the node there, so a virtual path can be held";
    }
    SharedBench bench;
    DeviceLink link{bench};
    ControllerSession session{link};
    ASSERT_TRUE(session.FindDevice());
    std::string heldBy;
    std::string error;
    // Present but with no node to lock (a virtual path): refused, and why.
    EXPECT_FALSE(session.Hold(heldBy, error));
    EXPECT_EQ(heldBy, "");
    EXPECT_NE(error, "");

    // Pulled out between its listing and the hold: neither holder nor error, and nothing left open.
    ASSERT_TRUE(session.FindDevice());
    bench.FirstUnit().Unplug();
    heldBy.clear();
    error.clear();
    EXPECT_FALSE(session.Hold(heldBy, error));
    EXPECT_EQ(heldBy, "");
    EXPECT_EQ(error, "");
    EXPECT_FALSE(session.Holds());
    EXPECT_EQ(session.DevicePath(), "");
}

}  // namespace

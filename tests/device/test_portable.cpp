// The layer under everything that differs between Linux and Windows; these run on both (under Wine there).
#include "portable/file_io.h"
#include "portable/file_lock.h"
#include "portable/process_io.h"
#include "portable/wait.h"
#include "tests/scoped_env.h"
#include "tests/scratch_dir.h"
#include "tests/test_system.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

using ::testing::HasSubstr;

// The zone the C runtime reads local time in, for as long as it lives.
struct Zone : ScopedEnv {
    explicit Zone(const char* zone) : ScopedEnv("TZ", zone) { ReadTimeZone(); }
};

struct Portable : ::testing::Test {
    std::filesystem::path dir = MakeScratchDir("dpc-portable-");
    ~Portable() override { std::filesystem::remove_all(dir); }
    std::string Path(const char* name) const { return (dir / name).string(); }
    static std::string Read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

TEST_F(Portable, AReplacedFileHoldsTheLastTextAndNothingIsLeftBeside)
{
    std::string error;
    const std::string path = Path("state.json");
    ASSERT_TRUE(ReplaceFileText(path, "first\n", error)) << error;
    ASSERT_TRUE(ReplaceFileText(path, "second, longer\n", error)) << error;
    ASSERT_TRUE(ReplaceFileText(path, "3\n", error)) << error;
    EXPECT_EQ(Read(path), "3\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);

    EXPECT_FALSE(ReplaceFileText(dir.string(), "x", error));
    EXPECT_EQ(error, "it is a folder");
    EXPECT_FALSE(ReplaceFileText(Path("no-such-folder/state.json"), "x", error));
}

TEST_F(Portable, FilesAreReadWholeWithinTheirLimit)
{
    std::string error;
    ASSERT_TRUE(ReplaceFileText(Path("a"), std::string(3000, 'a'), error));
    EXPECT_EQ(ReadWholeFile(Path("a"), 4096, error), std::string(3000, 'a'));
    EXPECT_EQ(ReadWholeFile(Path("a"), 2048, error), std::nullopt);
    EXPECT_EQ(error, "larger than 2 KiB");
    EXPECT_EQ(ReadWholeFile(Path("missing"), 4096, error), std::nullopt);
    EXPECT_EQ(ReadWholeFile(dir.string(), 4096, error), std::nullopt);
    EXPECT_EQ(error, "it is a folder");
    EXPECT_TRUE(Missing(Path("missing")));
    EXPECT_FALSE(Missing(Path("a")));
    EXPECT_FALSE(Missing(dir.string()));
}

TEST_F(Portable, RecordsAreAddedAtTheEndAndOnlyToFiles)
{
    std::string error;
    ASSERT_TRUE(ReplaceFileText(Path("record"), "old\n", error));
    {
        auto first = AppendOnlyFile::Open(Path("record"), error);
        auto second = AppendOnlyFile::Open(Path("record"), error);
        ASSERT_TRUE(first && second) << error;
        ASSERT_TRUE(first->Append("one\n", error));
        ASSERT_TRUE(second->Append("two\n", error));
        ASSERT_TRUE(first->Append("three\n", error));
    }
    EXPECT_EQ(Read(Path("record")), "old\none\ntwo\nthree\n");
    EXPECT_EQ(AppendOnlyFile::Open(dir.string(), error), nullptr);
    EXPECT_FALSE(error.empty());

    std::FILE* log = OpenForAppending(Path("record"), error);
    ASSERT_NE(log, nullptr) << error;
    std::fputs("four\n", log);
    std::fclose(log);
    EXPECT_EQ(Read(Path("record")), "old\none\ntwo\nthree\nfour\n");
}

TEST_F(Portable, AFileLockIsTakenInTurn)
{
    std::string error;
    auto first = portable::FileLock::Take(Path("lock"), true, nullptr, error);
    ASSERT_NE(first, nullptr) << error;
    std::atomic<bool> waited{false};
    std::atomic<bool> taken{false};
    std::thread second([&] {
        std::string e;
        auto lock = portable::FileLock::Take(
            Path("lock"), true, [&] { waited = true; }, e);
        taken = lock != nullptr;
    });
    while (!waited) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_FALSE(taken);  // told to wait, and waiting
    first.reset();
    second.join();
    EXPECT_TRUE(taken);
    EXPECT_EQ(portable::FileLock::Take(Path("missing"), false, nullptr, error), nullptr);
    EXPECT_THAT(error, HasSubstr("cannot open"));
}

TEST(Wait, AWakeupIsSeenUntilCleared)
{
    portable::Wakeup first, second;
    ASSERT_TRUE(first.Valid() && second.Valid());
    const portable::WaitHandle handles[] = {first.Handle(), portable::kNoWaitHandle, second.Handle()};
    EXPECT_EQ(portable::WaitForAny(handles, 0), -1);
    second.Raise();
    second.Raise();
    EXPECT_EQ(portable::WaitForAny(handles, -1), 2);
    EXPECT_EQ(portable::WaitForAny(handles, 0), 2);  // still raised
    second.Clear();
    EXPECT_EQ(portable::WaitForAny(handles, 0), -1);

    std::thread raiser([&] { first.Raise(); });
    EXPECT_EQ(portable::WaitForAny(handles, -1), 0);
    raiser.join();
    const portable::WaitHandle none[] = {portable::kNoWaitHandle};
    EXPECT_EQ(portable::WaitForAny(none, 1), -1);  // a plain sleep
}

TEST(Wait, InputIsReadAsItComesAndItsEndIsSeen)
{
    int fds[2];
    ASSERT_EQ(MakePipe(fds), 0);
    portable::InputPump input(fds[0]);
    const portable::WaitHandle handles[] = {input.Handle()};
    ASSERT_EQ(write(fds[1], "plug\nunp", 8), 8);
    std::string text;
    bool ended = false;
    while (text.size() < 8) {
        ASSERT_EQ(portable::WaitForAny(handles, -1), 0);
        text += input.Read(ended);
        ASSERT_FALSE(ended);
    }
    EXPECT_EQ(text, "plug\nunp");
    close(fds[1]);
    while (!ended) {
        ASSERT_EQ(portable::WaitForAny(handles, -1), 0);
        EXPECT_EQ(input.Read(ended), "");
    }
}

// A zone three and a half hours behind UTC, in the form both C runtimes read without a zone database.
TEST(LocalTime, TheStampCarriesTheOffsetFromUtcAcrossADayAndAYear)
{
    const std::time_t newYear = 1767229200;  // 01:00 UTC on 1 January 2026
    {
        Zone zone("ABC+03:30");
        EXPECT_EQ(LocalTimeStamp(newYear), "2025-12-31T21:30:00-0330");
    }
    {
        Zone zone("ABC-05:45");
        EXPECT_EQ(LocalTimeStamp(newYear), "2026-01-01T06:45:00+0545");
    }
    {
        Zone zone("UTC0");
        EXPECT_EQ(LocalTimeStamp(newYear), "2026-01-01T01:00:00+0000");
    }
    ReadTimeZone();  // back to the zone from before
}

}  // namespace

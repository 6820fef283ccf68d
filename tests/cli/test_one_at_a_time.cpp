// Two programs and one controller, through the real programs on the real backend inside the kernel-level
// emulation: a change holds the controller and another is refused at once, sending nothing; and the
// restore an install owes goes to the programmed controller only, never to one swapped in during its restart.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/cli/process.h"
#include "tests/cli/scratch_test.h"

#include <fstream>
#include <sstream>
#include <string>

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class RealBackendOneAtATime : public ScratchTest {
protected:
    // A shell script inside one emulated bench, run in the scratch folder, with $D the real doorphonectl and
    // `waitfor FILE TEXT` waiting (30 s at most, a ceiling for slow machines only) until FILE holds TEXT.
    Result OnBench(const std::string& script)
    {
        const std::string prelude = std::string("cd '") + dir.string() + "' || exit 99\nD='" + DPC_DOORPHONECTL +
                                    "'\nwaitfor() { i=0; until grep -q \"$2\" \"$1\" 2>/dev/null; do i=$((i+1)); "
                                    "[ $i -gt 600 ] && return 1; sleep 0.05; done; }\n";
        return RunProgram({DPC_EMULATOR, "--", "/bin/sh", "-c", prelude + script}, dir.string());
    }
    std::string Text(const std::string& name) { return ReadFile(File(name)); }
    int Count(const std::string& name, const std::string& what)
    {
        const std::string text = Text(name);
        int n = 0;
        for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
            ++n;
        }
        return n;
    }
};

constexpr const char* kRestore = "SET 03 02 35 35";

TEST_F(RealBackendOneAtATime, ASecondFlashIsRefusedAtOnceAndTheFirstEndsWithOneRestore)
{
    const Result r = OnBench(R"(
$D --wire-log first.log flash --yes > first.out 2> first.err & first=$!
waitfor first.log "SET 05 46" || exit 98
$D --wire-log second.log flash --yes > second.out 2> second.err; echo $? > second.rc
wait $first; echo $? > first.rc
)");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Text("second.rc"), "1\n");
    EXPECT_THAT(Text("second.err"), HasSubstr("is in use by doorphonectl flash, process "));
    EXPECT_THAT(Text("second.err"), HasSubstr("nothing was sent to it"));
    EXPECT_EQ(Text("second.log"), "") << "the refused run made no transfer at all";
    EXPECT_EQ(Text("first.rc"), "0\n") << Text("first.err");
    EXPECT_EQ(Count("first.log", kRestore), 1);
    EXPECT_EQ(Count("first.log", "fail"), 0);
}

TEST_F(RealBackendOneAtATime, ASetAndAnImportDuringAFlashAreRefused)
{
    std::ofstream(File("profile.json")) << R"({"format": "doorphoneconfig-profile", "version": 1,
        "settings": {"audio.dsp": "Full Duplex without Noise Reduction"}})";
    const Result r = OnBench(R"(
$D --wire-log flash.log flash --yes > flash.out 2> flash.err & flash=$!
waitfor flash.log "SET 05 46" || exit 98
$D --wire-log set.log set door.open-code 42 2> set.err; echo $? > set.rc
$D --wire-log import.log import profile.json 2> import.err; echo $? > import.rc
$D --wire-log restore.log restore-defaults 2> restore.err; echo $? > restore.rc
wait $flash; echo $? > flash.rc
$D get door.open-code > after.out
)");
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* command : {"set", "import", "restore"}) {
        SCOPED_TRACE(command);
        EXPECT_EQ(Text(std::string(command) + ".rc"), "1\n");
        EXPECT_THAT(Text(std::string(command) + ".err"), HasSubstr("is in use by doorphonectl flash"));
        EXPECT_EQ(Text(std::string(command) + ".log"), "");
    }
    EXPECT_EQ(Text("flash.rc"), "0\n") << Text("flash.err");
    EXPECT_THAT(Text("after.out"), Not(HasSubstr("42")));
}

TEST_F(RealBackendOneAtATime, AControllerSwappedInDuringTheRestartGetsNothingAndFlashSaysWhy)
{
    const Result r = OnBench(R"(
$D --wire-log flash.log flash --yes --log record.log > flash.out 2> flash.err & flash=$!
waitfor flash.err "Programming complete" || exit 98
echo "next 1.05.2" > "$EMULATE_CONTROLLER_CONTROL"
wait $flash; echo $? > flash.rc
$D show > now.out 2>&1
)");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Text("flash.rc"), "1\n");
    const std::string err = Text("flash.err");
    EXPECT_THAT(err, HasSubstr("is not the one programmed: it is plugged in at another USB port"));
    EXPECT_THAT(err, HasSubstr("nothing was sent to it"));
    EXPECT_THAT(err, HasSubstr("the programmed controller has the new firmware but not its defaults"));
    EXPECT_EQ(Count("flash.log", kRestore), 0);
    EXPECT_THAT(Text("now.out"), HasSubstr("Firmware     1.05.2")) << "the swapped-in controller is as it came";
    // The record speaks of the programmed controller: it took the firmware, and its defaults are owed.
    EXPECT_THAT(Text("record.log"), HasSubstr("firmware 1.05.2 -> 2.01.0, 0 settings written, FAILED: the controller that came back"));
}

TEST_F(RealBackendOneAtATime, ProvisionRecordsTheProgrammedControllerAndLeavesTheSwappedOneAlone)
{
    std::ofstream(File("site.json")) << R"({"format": "doorphoneconfig-profile", "version": 1,
        "settings": {"door.open-code": "42"}})";
    const Result r = OnBench(R"(
$D --wire-log provision.log provision site.json --flash --once --log record.log > provision.out 2> provision.err &
p=$!
waitfor provision.err "Programming complete" || exit 98
echo "next 1.05.2" > "$EMULATE_CONTROLLER_CONTROL"
wait $p; echo $? > provision.rc
$D get door.open-code > code.out
)");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Text("provision.rc"), "1\n");
    EXPECT_THAT(Text("provision.out"), HasSubstr("firmware 1.05.2 -> 2.01.0, 0 settings written, FAILED"));
    EXPECT_THAT(Text("record.log"), HasSubstr("is not the one programmed"));
    EXPECT_EQ(Count("provision.log", kRestore), 0);
    EXPECT_EQ(Count("provision.log", "SET 03 06 33 31"), 0) << "no profile written to the swapped-in controller";
    EXPECT_THAT(Text("code.out"), Not(HasSubstr("42")));
}

}  // namespace

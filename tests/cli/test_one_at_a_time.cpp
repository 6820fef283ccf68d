// Two programs and one controller, through the real programs on the real backend inside the kernel-level
// emulation: a change holds the controller and another is refused at once, sending nothing, with the holder
// named by the system; the hold lasts through an install's restart; nothing planted in the lock folder and
// no user who may not open the controller turns it off or fakes it; and the restore an install owes goes
// to the programmed controller only, never to one swapped in during its restart.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/cli/process.h"
#include "tests/cli/scratch_test.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class RealBackendOneAtATime : public ScratchTest {
protected:
    // A shell script inside one emulated bench, run in the scratch folder, with $D the real doorphonectl, $L
    // the bench's lock folder, `waitfor FILE TEXT` waiting (30 s at most, a ceiling for slow machines only)
    // until FILE holds TEXT, and `busyflash NAME [AS...]` a flash (run as AS... when given) with another
    // program's set during its stream and sets during its restart, until it has restored the defaults.
    Result OnBench(const std::string& script, std::vector<std::string> emulatorOptions = {})
    {
        const std::string prelude = std::string("cd '") + dir.string() + "' || exit 99\nD='" + DPC_DOORPHONECTL +
                                    "'\nL=\"$DOORPHONECONFIG_LOCK_DIR\"\n" + R"(
waitfor() { w=0; until grep -q "$2" "$1" 2>/dev/null; do w=$((w+1)); [ $w -gt 600 ] && return 1; sleep 0.05; done; }
busyflash() {
  n=$1; shift
  "$@" $D --wire-log $n.flash.log flash --yes > $n.flash.out 2> $n.flash.err & f=$!
  echo $f > $n.flash.pid
  waitfor $n.flash.log "SET 05 46" || return 98
  $D --wire-log $n.set.log set door.open-code 42 2> $n.set.err; echo $? > $n.set.rc
  waitfor $n.flash.err "Programming complete" || return 98
  # Slow from here (the sets are refused before any transfer), so that the flash, which reads the
  # controller back after its restore, is still there when the last set of the loop takes its hold.
  echo "latency 1000" > "$EMULATE_CONTROLLER_CONTROL"
  : > $n.restart.rc
  until grep -q "SET 03 02 35 35" $n.flash.log || ! kill -0 $f 2>/dev/null; do
    $D --wire-log $n.restart.log set door.open-code 43 2>> $n.restart.err; echo $? >> $n.restart.rc
  done
  wait $f; echo $? > $n.flash.rc
  echo "latency 0" > "$EMULATE_CONTROLLER_CONTROL"
}
)";
        std::vector<std::string> args{DPC_EMULATOR};
        args.insert(args.end(), emulatorOptions.begin(), emulatorOptions.end());
        args.insert(args.end(), {"--", "/bin/sh", "-c", prelude + script});
        return RunProgram(args, dir.string());
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
    // After busyflash `name`: the flash ended well with one restore; every other program's set was refused,
    // sent nothing, and named the flash as the system knows it.
    void ExpectHeldThroughout(const std::string& name, const std::string& user)
    {
        SCOPED_TRACE(name);
        std::string pid = Text(name + ".flash.pid");
        pid.pop_back();
        const std::string holder = "is in use by doorphonectl, process " + pid + " of user " + user + ";";
        EXPECT_EQ(Text(name + ".flash.rc"), "0\n") << Text(name + ".flash.err");
        EXPECT_EQ(Count(name + ".flash.log", kRestore), 1);
        EXPECT_EQ(Text(name + ".set.rc"), "1\n");
        EXPECT_THAT(Text(name + ".set.err"), HasSubstr(holder));
        EXPECT_EQ(Text(name + ".set.log"), "") << "the refused run made no transfer at all";
        // During the restart: refused while the controller is there, not found while it is away.
        EXPECT_THAT(Text(name + ".restart.rc"), Not(HasSubstr("0")));
        EXPECT_THAT(Text(name + ".restart.err"), HasSubstr(holder))
            << "a set met the controller back before the restore";
        std::istringstream lines(Text(name + ".restart.err"));
        for (std::string line; std::getline(lines, line);) {
            EXPECT_TRUE(line.find(holder) != std::string::npos || line.find("no controller found") != std::string::npos)
                << line;
        }
        EXPECT_EQ(Count(name + ".restart.log", "SET"), 0);
    }
    static constexpr const char* kRestore = "SET 03 02 35 35";
};

TEST_F(RealBackendOneAtATime, EveryOtherChangeIsRefusedFromTheFirstChunkToTheRestoreAndNothingIsLeft)
{
    std::ofstream(File("profile.json")) << R"({"format": "doorphoneconfig-profile", "version": 1,
        "settings": {"audio.dsp": "Full Duplex without Noise Reduction"}})";
    const Result r = OnBench(R"(
$D set door.open-code 5 || exit 97
$D --wire-log first.flash.log flash --yes > first.flash.out 2> first.flash.err & first=$!
echo $first > first.flash.pid
waitfor first.flash.log "SET 05 46" || exit 98
$D --wire-log second.log flash --yes 2> second.err; echo $? > second.rc
$D --wire-log import.log import profile.json 2> import.err; echo $? > import.rc
$D --wire-log restore.log restore-defaults 2> restore.err; echo $? > restore.rc
wait $first; echo $? > first.flash.rc
busyflash busy
$D get door.open-code > after.out
ls -A "$L" > left.txt
)");
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* command : {"second", "import", "restore"}) {
        SCOPED_TRACE(command);
        EXPECT_EQ(Text(std::string(command) + ".rc"), "1\n");
        EXPECT_THAT(Text(std::string(command) + ".err"), HasSubstr("is in use by doorphonectl, process "));
        EXPECT_THAT(Text(std::string(command) + ".err"), HasSubstr("nothing was sent to it"));
        EXPECT_EQ(Text(std::string(command) + ".log"), "");
    }
    EXPECT_EQ(Text("first.flash.rc"), "0\n") << Text("first.flash.err");
    EXPECT_EQ(Count("first.flash.log", kRestore), 1);
    EXPECT_EQ(Count("first.flash.log", "fail"), 0);
    ExpectHeldThroughout("busy", "root");
    EXPECT_EQ(Text("after.out"), "9\n") << "the defaults, and nothing of the refused runs";
    EXPECT_EQ(Text("left.txt"), "") << "a hold let go of leaves nothing in the lock folder";
}

// Whatever another user leaves in the lock folder, with whatever name: a folder, a link, a FIFO, a file of
// mode 0000, a hard link (as where fs.protected_hardlinks is 0), the links aimed at a file that a process of
// root's keeps locked. None keeps a change from holding the controller, none stands for a holder, none is
// written to, and the hold still lasts through a restart.
TEST_F(RealBackendOneAtATime, NothingPlantedInTheLockFolderTurnsTheHoldOffOrFakesIt)
{
    const Result r = OnBench(R"(
echo secret > precious; chmod 0600 precious; : > locked
flock locked flock precious sh -c 'echo $$ > decoy.pid; echo held > decoy.ready; exec sleep 120' &
waitfor decoy.ready held || exit 98
R="$L/doorphoneconfig-usb-1-2,"
mkdir "$L/doorphoneconfig-usb-1-2.lock" "${R}Folder00.lock"
ln -s "$PWD/locked" "${R}Symlink0.lock"; ln -s "$PWD/locked" "$L/doorphoneconfig-usb-1-2,x.lock"
ln "$PWD/precious" "${R}Hardlink.lock"
mkfifo "${R}Fifo0000.lock"
: > "${R}Mode0000.lock"; chown 65534 "${R}Mode0000.lock"; chmod 0000 "${R}Mode0000.lock"
$D --wire-log before.log set door.open-code 5 2> before.err; echo $? > before.rc
busyflash planted
$D get door.open-code > after.out
kill $(cat decoy.pid); wait
stat -c '%a %h' precious > precious.stat; cat precious >> precious.stat
)");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Text("before.rc"), "0\n") << Text("before.err");
    ExpectHeldThroughout("planted", "root");
    EXPECT_EQ(Text("after.out"), "9\n");
    EXPECT_EQ(Text("precious.stat"), "600 2\nsecret\n") << "the file behind the links is as it was";
}

// A folder for the records that is missing or cannot be written: an install, which needs a record through
// its restart, refuses to start and says why; a change that needs none still holds the node.
TEST_F(RealBackendOneAtATime, AnInstallThatCannotBeHeldThroughItsRestartDoesNotStart)
{
    const Result r = OnBench(R"(
DOORPHONECONFIG_LOCK_DIR="$PWD/missing" $D --wire-log flash.log flash --yes 2> flash.err; echo $? > flash.rc
DOORPHONECONFIG_LOCK_DIR="$PWD/missing" $D set door.open-code 5 2> set.err; echo $? > set.rc
)");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Text("flash.rc"), "1\n");
    EXPECT_THAT(Text("flash.err"), HasSubstr("cannot be held against other programs' changes: cannot keep it through "
                                             "its restart: cannot make a record in " +
                                             File("missing") + ": No such file or directory"));
    EXPECT_THAT(Text("flash.err"), HasSubstr("nothing was sent to it"));
    EXPECT_EQ(Count("flash.log", "SET"), 0);
    EXPECT_EQ(Text("set.rc"), "0\n") << Text("set.err");
}

// Only a user who may open the controller can hold it. One who may not (the node is root's, mode 0660)
// locks files in the lock folder in vain; one who may is named by the system, user and all, and holds it
// through its restart against root.
TEST_F(RealBackendOneAtATime, OnlyAUserWhoMayOpenTheControllerHoldsIt)
{
    std::filesystem::permissions(dir, std::filesystem::perms::all);
    const Result r = OnBench(R"(
N="setpriv --reuid=65534 --regid=65534 --clear-groups"
$N true || exit 77
echo "node-mode 0660" > "$EMULATE_CONTROLLER_CONTROL"
$N flock "$L/doorphoneconfig-usb-1-2.lock" flock "$L/doorphoneconfig-usb-1-2,Nobody00.lock" \
  sh -c 'echo $$ > squat.pid; echo held > squat.ready; exec sleep 120' &
waitfor squat.ready held || exit 98
$D --wire-log root.log set door.open-code 5 2> root.err; echo $? > root.rc
kill $(cat squat.pid); wait
echo "node-mode 0666" > "$EMULATE_CONTROLLER_CONTROL"
busyflash nobody $N
)");
    if (r.status == 77) {
        GTEST_SKIP() << "cannot run as another user here";
    }
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Text("root.rc"), "0\n") << Text("root.err");
    EXPECT_EQ(Count("root.log", "SET 03"), 1);
    ExpectHeldThroughout("nobody", "nobody");
}

// A holder killed outright holds nothing: the record it kept through the restart is no longer trusted, and
// the next change removes it.
TEST_F(RealBackendOneAtATime, AHolderKilledDuringTheRestartHoldsNothing)
{
    const Result r = OnBench(R"(
$D --wire-log flash.log flash --yes > flash.out 2> flash.err & f=$!
waitfor flash.err "Programming complete" || exit 98
kill -KILL $f; wait $f
w=0; until $D get maintenance.firmware-detected 2> /dev/null | grep -q 2.01.0; do
  w=$((w+1)); [ $w -gt 600 ] && exit 98; sleep 0.05
done
ls -A "$L" > during.txt
$D set door.open-code 5 2> set.err; echo $? > set.rc
ls -A "$L" > left.txt
)");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(Text("during.txt"), HasSubstr("doorphoneconfig-usb-1-2,")) << "the dead holder's record is there";
    EXPECT_EQ(Text("set.rc"), "0\n") << Text("set.err");
    EXPECT_EQ(Text("left.txt"), "");
}

// A flash started with SIGHUP ignored (nohup), or as a background job of a script (SIGINT ignored), is not
// stopped by them: the technician who chose that keeps a flash that ends with the defaults restored.
TEST_F(RealBackendOneAtATime, SignalsIgnoredAtTheStartStayIgnored)
{
    const Result r = OnBench(R"(
nohup $D --wire-log hup.log flash --yes > hup.out 2> hup.err & h=$!
waitfor hup.log "SET 05 46" || exit 98
kill -HUP $h
until grep -q "Programming complete" hup.err || ! kill -0 $h 2>/dev/null; do sleep 0.05; done
kill -HUP $h 2>/dev/null
wait $h; echo $? > hup.rc
$D --wire-log int.log flash --yes > int.out 2> int.err & job=$!
waitfor int.log "SET 05 46" || exit 98
kill -INT $job
wait $job; echo $? > int.rc
)");
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* run : {"hup", "int"}) {
        SCOPED_TRACE(run);
        EXPECT_EQ(Text(std::string(run) + ".rc"), "0\n") << Text(std::string(run) + ".err");
        EXPECT_EQ(Count(std::string(run) + ".log", kRestore), 1);
    }
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
    EXPECT_THAT(Text("record.log"),
                HasSubstr("firmware 1.05.2 -> 2.01.0, 0 settings written, FAILED: the controller that came back"));
}

}  // namespace

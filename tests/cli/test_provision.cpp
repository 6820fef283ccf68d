// provision, --device and the record, run in-process on a bench of virtual controllers: one unit after
// another, the choice among several attached, and what reaches the wire for each unit.
#include "session/stop_request.h"
#include "device/carried_firmware.h"
#include "tests/cli/cli_fixture.h"

#include <gmock/gmock.h>
#include <nlohmann/json.hpp>

#include "tests/std_regex.h"
#include "tests/test_pipe.h"

#include <thread>

using ::testing::ElementsAre;
using ::testing::HasSubstr;

using ::testing::StartsWith;

namespace {

constexpr const char* kProfile = R"({"format": "doorphoneconfig-profile", "version": 1, "settings": {
    "audio.speaker-volume": "7", "door.open-code": "42", "door.relay-time": "10 Seconds"}})";

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

struct Provision : Cli {
    StopRequest stop;
    // What to do each time provision waits for a controller, by the number of units done so far.
    std::vector<std::function<void()>> plugs;

    void SetUp() override
    {
        Cli::SetUp();
        WriteFile("profile.json", kProfile);
        hooks.stop = &stop;
        hooks.waiting = [this](int done) {
            if (done < static_cast<int>(plugs.size()) && plugs[done]) {
                plugs[done]();
            } else {
                stop.Request();  // as Ctrl+C between units
            }
        };
    }

    ParameterAddress Address(const char* key) { return FindEntryByKeyOrLabel(key)->address; }
    std::string TextOn(const std::string& unit, ParameterAddress address)
    {
        return controller.Unit(unit).Text(address);
    }
};

TEST_F(Provision, ThreeUnitsInARowEachWithItsResultLineAndRecord)
{
    // The first unit runs the factory firmware, older than the carried one; the second and third the
    // carried one, and the third refuses its second write.
    plugs = {{},  // the first is there from the start
             [&] { controller.PlugNext("virtual:7410/0", CarriedFirmwareVersion()); },
             [&] {
                 controller.PlugNext("virtual:7410/1", CarriedFirmwareVersion())
                     .FailNthTransfer(5);  // status, two reads, then the writes
             }};
    EXPECT_EQ(Run({"provision", Path("profile.json"), "--flash", "--log", Path("record.log")}), 1) << err;
    EXPECT_THAT(Lines(out), ElementsAre("virtual:7410/0: firmware 1.05.2 -> 2.01.0, 3 settings written, OK",
                                        "virtual:7410/1: firmware 2.01.0 -> 2.01.0, 3 settings written, OK",
                                        StartsWith("virtual:7410/2: firmware 2.01.0 -> 2.01.0, 1 setting written, "
                                                   "FAILED: the controller refused the report for "),
                                        "Provisioned 3 controllers: 2 OK, 1 failed, 0 interrupted."));
    // The failure says what the third unit took; the first two hold the profile, and only the first was flashed.
    EXPECT_THAT(out, HasSubstr("already written: audio.speaker-volume = \"7\""));
    for (const char* path : {"virtual:7410/0", "virtual:7410/1"}) {
        EXPECT_EQ(controller.Unit(path).Text(Address("door.open-code")), "42") << path;
        EXPECT_EQ(controller.Unit(path).ChoiceValue(Address("door.relay-time")), 10) << path;
    }
    EXPECT_EQ(controller.Unit("virtual:7410/0").ProgrammingCount(), 1);
    EXPECT_EQ(controller.Unit("virtual:7410/1").ProgrammingCount(), 0);
    const std::vector<std::string> record = Lines(ReadText("record.log"));
    ASSERT_EQ(record.size(), 3u);
    const std::vector<std::string> results = Lines(out);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_THAT(record[i], MatchesStdRegex("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}[+-][0-9]{4} "
                                            "provision .*profile.json .*"));
        EXPECT_THAT(record[i], testing::EndsWith(results[i]));
    }
    EXPECT_THAT(err, HasSubstr("Pull out virtual:7410/0; plug in the next controller (Ctrl+C ends)."));
}

}  // namespace

namespace {

// A unit's wire log under provision is the one flash and then import would leave on the same unit.
TEST_F(Provision, AUnitsWireIsWhatFlashAndImportWouldSend)
{
    ASSERT_EQ(Run({"flash", "--yes"}), 0) << err;
    ASSERT_EQ(Run({"import", Path("profile.json")}), 0) << err;
    const std::string byHand = Wire();
    ClearWire();

    sim::VirtualController fresh;
    fresh.FirstUnit().SetRebootTimes(std::chrono::milliseconds(20), std::chrono::milliseconds(20));
    hooks.controller = &fresh;
    ASSERT_EQ(Run({"provision", Path("profile.json"), "--flash", "--once"}), 0) << err;
    EXPECT_EQ(Wire(), byHand);

    // On a unit that already runs the carried firmware, --flash sends no firmware: the wire is import's.
    ClearWire();
    fresh.PlugNext("virtual:7410/0", CarriedFirmwareVersion());
    ASSERT_EQ(Run({"import", Path("profile.json")}), 0) << err;
    const std::string imported = Wire();
    ClearWire();
    fresh.PlugNext("virtual:7410/1", CarriedFirmwareVersion());
    ASSERT_EQ(Run({"provision", Path("profile.json"), "--flash", "--once"}), 0) << err;
    EXPECT_EQ(Wire(), imported);
    EXPECT_THAT(out, HasSubstr("firmware 2.01.0 -> 2.01.0, 3 settings written, OK"));
}

TEST_F(Provision, DeviceChoosesAmongSeveralAndChangingWithoutItIsRefused)
{
    const std::string second = controller.Attach().Path();
    const ParameterAddress code = Address("door.open-code");

    EXPECT_EQ(Run({"set", "door.open-code", "5"}), 2);
    EXPECT_EQ(err, "doorphonectl: 2 controllers are attached; choose the one to change with --device PATH:\n"
                   "  virtual:7410/0\n  virtual:7410/1\n");
    EXPECT_EQ(Run({"import", Path("profile.json")}), 2);
    EXPECT_EQ(Run({"restore-defaults"}), 2);
    EXPECT_EQ(Run({"flash", "--yes"}), 2);
    EXPECT_EQ(controller.FirstUnit().TransferCount(), 0);
    EXPECT_EQ(controller.Unit(second).TransferCount(), 0);
    EXPECT_TRUE(Wire().empty());

    // A reading command reads the first and says so.
    ASSERT_EQ(Run({"get", "door.open-code"}), 0);
    EXPECT_EQ(out, "9\n");
    EXPECT_EQ(err, "doorphonectl: 2 controllers are attached; reading the first, virtual:7410/0 (choose another "
                   "with --device PATH)\n");

    // The option before or after the command.
    ASSERT_EQ(Run({"--device", second, "set", "door.open-code", "5"}), 0) << err;
    ASSERT_EQ(Run({"get", "door.open-code", "--device", second}), 0) << err;
    EXPECT_EQ(out, "5\n");
    EXPECT_EQ(err, "");
    EXPECT_EQ(TextOn("virtual:7410/0", code), "9");

    EXPECT_EQ(Run({"--device", "virtual:7410/7", "show"}), 1);
    EXPECT_EQ(err, "doorphonectl: no controller at virtual:7410/7 (see: doorphonectl list)\n");

    // provision with --device leaves the other unit alone.
    ASSERT_EQ(Run({"--device", second, "provision", Path("profile.json"), "--once"}), 0) << err;
    EXPECT_THAT(Lines(out).front(), StartsWith(second + ": "));
    EXPECT_EQ(TextOn("virtual:7410/0", code), "9");
    EXPECT_EQ(TextOn(second, code), "42");
}

TEST_F(Provision, JsonOnceAndWhatEndsARunEarly)
{
    ASSERT_EQ(Run({"provision", Path("profile.json"), "--once", "--json"}), 0) << err;
    const std::vector<std::string> lines = Lines(out);
    ASSERT_EQ(lines.size(), 1u);
    const nlohmann::json unit = nlohmann::json::parse(lines[0]);
    EXPECT_EQ(unit["path"], "virtual:7410/0");
    EXPECT_EQ(unit["firmwareBefore"], "1.05.2");
    EXPECT_EQ(unit["firmwareAfter"], "1.05.2");
    EXPECT_EQ(unit["flashed"], false);
    EXPECT_EQ(unit["written"], 3);
    EXPECT_EQ(unit["result"], "ok");
    ASSERT_TRUE(unit.contains("reason"));  // every key on every line: null when there is no reason
    EXPECT_TRUE(unit["reason"].is_null());
    EXPECT_THAT(err, HasSubstr("Provisioned 1 controller: 1 OK, 0 failed, 0 interrupted."));

    // The same unit, still plugged in, is not done twice; a stop while waiting for one ends --once with 1.
    EXPECT_EQ(Run({"provision", Path("profile.json"), "--once"}), 0);  // a new run: the unit holds it all
    EXPECT_THAT(out, HasSubstr("0 settings written, OK"));
    controller.FirstUnit().Unplug();
    EXPECT_EQ(Run({"provision", Path("profile.json"), "--once"}), 1);
    EXPECT_EQ(out, "Provisioned 0 controllers: 0 OK, 0 failed, 0 interrupted.\n");
    EXPECT_THAT(err, HasSubstr("Waiting for a controller (Ctrl+C ends)."));
    controller.FirstUnit().Plug();

    // Nothing starts on a bad profile or a record that cannot be kept.
    ClearWire();
    WriteFile("bad.json", R"({"format": "doorphoneconfig-profile", "version": 1, "settings": {"door.open-code": "x"}})");
    EXPECT_EQ(Run({"provision", Path("bad.json")}), 2);
    EXPECT_THAT(err, HasSubstr("bad.json: "));
    EXPECT_EQ(Run({"provision", Path("profile.json"), "--log", dir.string()}), 2);
    EXPECT_THAT(err, HasSubstr("cannot open the record " + dir.string()));
    EXPECT_EQ(Run({"provision", Path("missing.json")}), 2);
    EXPECT_TRUE(Sets().empty());
}

TEST_F(Provision, AProfileThatBreaksARuleOnOneUnitFailsThatUnitOnly)
{
    // The loop disconnect time is refused while the disconnect type is Dialtone: so on the first unit only.
    ASSERT_EQ(Run({"set", "disconnect.type", "Dialtone"}), 0) << err;
    ClearWire();
    WriteFile("rule.json", R"({"format": "doorphoneconfig-profile", "version": 1,
        "settings": {"disconnect.loop-disconnect": "0.1 Seconds"}})");
    plugs = {{}, [&] { controller.PlugNext("virtual:7410/0"); }};
    EXPECT_EQ(Run({"provision", Path("rule.json")}), 1);
    const std::vector<std::string> lines = Lines(out);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_THAT(lines[0], StartsWith("virtual:7410/0: firmware 1.05.2 -> 1.05.2, 0 settings written, FAILED: "));
    EXPECT_EQ(lines[1], "virtual:7410/1: firmware 1.05.2 -> 1.05.2, 1 setting written, OK");
    EXPECT_EQ(lines[2], "Provisioned 2 controllers: 1 OK, 1 failed, 0 interrupted.");
    EXPECT_EQ(Sets().size(), 1u);
}

// A stop during a unit lets the transfer under way finish, sends nothing more and says what was written.
TEST_F(Provision, AStopDuringAUnitReportsItInterruptedWithWhatItWrote)
{
    controller.FirstUnit().SetLatency(std::chrono::milliseconds(100));
    std::thread stopper([&] {
        while (controller.FirstUnit().TransferCount() < 3) {  // the status and the two reads: the first write is under way
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        stop.Request();
    });
    EXPECT_EQ(Run({"provision", Path("profile.json"), "--log", Path("record.log")}), 1);
    stopper.join();
    const std::vector<std::string> lines = Lines(out);
    ASSERT_EQ(lines.size(), 2u) << out;
    EXPECT_THAT(lines[0], MatchesStdRegex("virtual:7410/0: firmware 1.05.2 -> 1.05.2, 1 setting written, INTERRUPTED: "
                                       "stopped before [a-z.-]+; already written: [a-z.-]+ = \"[^\"]+\"; not "
                                       "written: [a-z.-]+, [a-z.-]+"));
    EXPECT_EQ(lines[1], "Provisioned 1 controller: 0 OK, 0 failed, 1 interrupted.");
    EXPECT_EQ(Sets().size(), 1u);
    EXPECT_THAT(ReadText("record.log"), HasSubstr("INTERRUPTED"));
    for (const std::string& line : Lines(Wire())) {
        EXPECT_THAT(line, testing::EndsWith(" ok"));
    }
}

TEST_F(Provision, AStopDuringProgrammingSaysTheFirmwareIsNotKnown)
{
    std::thread stopper([&] {
        while (controller.FirstUnit().RecordsReceived() < 20) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        stop.Request();
    });
    controller.FirstUnit().SetLatency(std::chrono::milliseconds(2));
    EXPECT_EQ(Run({"provision", Path("profile.json"), "--flash"}), 1);
    stopper.join();
    EXPECT_THAT(out, HasSubstr("virtual:7410/0: firmware 1.05.2 -> unknown, 0 settings written, INTERRUPTED: stopped "
                               "during programming; the controller did not finish programming"));
    EXPECT_EQ(controller.FirstUnit().ProgrammingCount(), 0);
}

TEST_F(Provision, FlashKeepsARecordToo)
{
    ASSERT_EQ(Run({"flash", "--yes", "--log", Path("record.log")}), 0) << err;
    EXPECT_THAT(ReadText("record.log"),
                MatchesStdRegex("[-0-9T:+]+ flash 2.01.0 virtual:7410/0: firmware 1.05.2 -> 2.01.0, 0 settings "
                             "written, OK\n"));
    controller.FirstUnit().PullOutAfterNthTransfer(500);
    EXPECT_EQ(Run({"flash", "--yes", "--log", Path("record.log")}), 1);
    const std::vector<std::string> record = Lines(ReadText("record.log"));
    ASSERT_EQ(record.size(), 2u);
    EXPECT_THAT(record[1], HasSubstr("firmware 2.01.0 -> unknown, 0 settings written, FAILED: programming failed"));
}

// --simulate=STATE: the state file holds the unit it was loaded into, the bench's first. A unit that the
// commands on standard input attach beside it, or plug in in its place, leaves the file as the first unit has it.
TEST_F(Provision, TheStateFileKeepsTheFirstUnitWhateverCameAfterIt)
{
    hooks.controller = nullptr;  // each run makes its own bench, loaded from the state file
    const std::string state = "--simulate=" + Path("state.json");
    auto runOnState = [&](std::vector<std::string> args, const std::string& input) {
        args.insert(args.begin(), {"doorphonectl", state});
        int fds[2];
        EXPECT_EQ(MakePipe(fds), 0);
        EXPECT_EQ(write(fds[1], input.data(), static_cast<unsigned>(input.size())), static_cast<int>(input.size()));
        close(fds[1]);
        std::istringstream in;
        std::ostringstream o, e;
        CliIo io{in, o, e, false, false, fds[0]};
        const int code = DoorphonectlMain(args, io, &hooks);
        close(fds[0]);
        out = o.str();
        err = e.str();
        return code;
    };
    ASSERT_EQ(runOnState({"get", "audio.dsp"}, ""), 0) << err;
    const std::string factory = out;
    ASSERT_EQ(runOnState({"set", "audio.dsp", "1"}, ""), 0) << err;
    ASSERT_EQ(runOnState({"get", "audio.dsp"}, ""), 0) << err;
    const std::string changed = out;
    ASSERT_NE(changed, factory);

    // provision does the first unit, reads the command while it waits, does the new unit, then stops.
    for (const char* command : {"attach", "next"}) {
        StopRequest runStop;  // each run its own, as each process has
        hooks.stop = &runStop;
        hooks.waiting = [&](int done) { done < 2 ? void() : runStop.Request(); };
        ASSERT_EQ(runOnState({"provision", Path("profile.json")}, std::string(command) + "\n"), 0) << err;
        EXPECT_THAT(out, HasSubstr("virtual:7410/1: ")) << command;
        EXPECT_THAT(out, HasSubstr("Provisioned 2 controllers: 2 OK")) << command;
        ASSERT_EQ(runOnState({"get", "audio.dsp"}, ""), 0) << err;
        EXPECT_EQ(out, changed) << "after " << command;
        ASSERT_EQ(runOnState({"get", "door.open-code"}, ""), 0) << err;
        EXPECT_EQ(out, "42\n") << "what provision wrote to the first unit is kept, after " << command;
        hooks.stop = &stop;
    }
}

}  // namespace

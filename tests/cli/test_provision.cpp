// provision, --device and the record, run in-process on a bench of virtual controllers: one unit after
// another, the choice among several attached, and what reaches the wire for each unit.
#include "device/carried_firmware.h"
#include "session/controller_session.h"
#include "session/stop_request.h"
#include "tests/cli/cli_fixture.h"
#include "tests/cli/wire_units.h"

#include <gmock/gmock.h>
#include <nlohmann/json.hpp>

#include "tests/std_regex.h"
#include "tests/test_system.h"
#include "tests/text_lines.h"

#include <atomic>
#include <thread>

using ::testing::ElementsAre;
using ::testing::HasSubstr;

using ::testing::StartsWith;

namespace {

constexpr const char* kProfile = R"({"format": "doorphoneconfig-profile", "version": 1, "settings": {
    "audio.speaker-volume": "7", "door.open-code": "42", "door.relay-time": "10 Seconds"}})";

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

    // Where the controller keeps the setting, by its own memory map.
    sim::SettingAddress Address(const char* key) { return sim::SlotNamed(key)->address; }
    std::string TextOn(const std::string& unit, sim::SettingAddress address)
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
    EXPECT_THAT(LinesOf(out), ElementsAre("virtual:7410/0: firmware 1.05.2 -> 2.01.0, 3 settings written, OK",
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
    const std::vector<std::string> record = LinesOf(ReadText("record.log"));
    ASSERT_EQ(record.size(), 3u);
    const std::vector<std::string> results = LinesOf(out);
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
    EXPECT_EQ(WireByUnit(Wire()).begin()->first, "virtual:7410/0");
    EXPECT_EQ(Untagged(Wire()), byHand);

    // On a unit that already runs the carried firmware, --flash sends no firmware: the wire is import's.
    ClearWire();
    fresh.PlugNext("virtual:7410/0", CarriedFirmwareVersion());
    ASSERT_EQ(Run({"import", Path("profile.json")}), 0) << err;
    const std::string imported = Wire();
    ClearWire();
    fresh.PlugNext("virtual:7410/1", CarriedFirmwareVersion());
    ASSERT_EQ(Run({"provision", Path("profile.json"), "--flash", "--once"}), 0) << err;
    EXPECT_EQ(Untagged(Wire()), imported);
    EXPECT_THAT(out, HasSubstr("firmware 2.01.0 -> 2.01.0, 3 settings written, OK"));
}

TEST_F(Provision, AControllerSwappedInDuringTheRestartIsLeftAloneAndTheProgrammedOneRecorded)
{
    sim::VirtualUnit programmed = controller.FirstUnit();
    programmed.SetRebootTimes(std::chrono::milliseconds(20), std::chrono::hours(1));  // once gone, it stays away
    std::atomic<bool> ran{false};
    std::thread swap([&] {
        while (!ran && (programmed.ProgrammingCount() == 0 || programmed.IsPlugged())) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (!ran) {
            controller.PlugNext(programmed.Path());
        }
    });
    const int code = Run({"provision", Path("profile.json"), "--flash", "--once", "--log", Path("record.log")});
    ran = true;
    swap.join();
    EXPECT_EQ(code, 1) << err;
    EXPECT_THAT(out, HasSubstr("virtual:7410/0: firmware 1.05.2 -> 2.01.0, 0 settings written, FAILED: the controller "
                               "that came back at virtual:7410/1 is not the one programmed"));
    EXPECT_THAT(ReadText("record.log"), HasSubstr("is not the one programmed"));
    EXPECT_EQ(Wire().find("SET 03 02 35 35"), std::string::npos) << "no restore";
    EXPECT_NE(controller.Unit("virtual:7410/1").Text(Address("door.open-code")), "42") << "no profile either";
}

TEST_F(Provision, DeviceChoosesAmongSeveralAndChangingWithoutItIsRefused)
{
    const std::string second = controller.Attach().Path();
    const sim::SettingAddress code = Address("door.open-code");

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
    EXPECT_THAT(LinesOf(out).front(), StartsWith(second + ": "));
    EXPECT_EQ(TextOn("virtual:7410/0", code), "9");
    EXPECT_EQ(TextOn(second, code), "42");
}

TEST_F(Provision, JsonOnceAndWhatEndsARunEarly)
{
    ASSERT_EQ(Run({"provision", Path("profile.json"), "--once", "--json"}), 0) << err;
    const std::vector<std::string> lines = LinesOf(out);
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
    WriteFile("bad.json",
              R"({"format": "doorphoneconfig-profile", "version": 1, "settings": {"door.open-code": "x"}})");
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
    const std::vector<std::string> lines = LinesOf(out);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_THAT(lines[0], StartsWith("virtual:7410/0: firmware 1.05.2 -> 1.05.2, 0 settings written, FAILED: "));
    EXPECT_EQ(lines[1], "virtual:7410/1: firmware 1.05.2 -> 1.05.2, 1 setting written, OK");
    EXPECT_EQ(lines[2], "Provisioned 2 controllers: 1 OK, 1 failed, 0 interrupted.");
    EXPECT_EQ(Sets().size(), 1u);
}

// A stop during a unit lets the transfer under way finish, sends nothing more and says what was written.
TEST_F(Provision, AStopDuringAUnitReportsItInterruptedWithWhatItWrote)
{
    controller.FirstUnit().HoldNthTransfer(4);  // after the status and the two reads: the first write
    std::thread stopper([&] {
        while (!controller.FirstUnit().IsHoldingATransfer()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        stop.Request();
        controller.FirstUnit().ReleaseHeldTransfer();
    });
    EXPECT_EQ(Run({"provision", Path("profile.json"), "--log", Path("record.log")}), 1);
    stopper.join();
    const std::vector<std::string> lines = LinesOf(out);
    ASSERT_EQ(lines.size(), 2u) << out;
    EXPECT_THAT(lines[0], MatchesStdRegex("virtual:7410/0: firmware 1.05.2 -> 1.05.2, 1 setting written, INTERRUPTED: "
                                          "stopped before [a-z.-]+; already written: [a-z.-]+ = \"[^\"]+\"; not "
                                          "written: [a-z.-]+, [a-z.-]+"));
    EXPECT_EQ(lines[1], "Provisioned 1 controller: 0 OK, 0 failed, 1 interrupted.");
    EXPECT_EQ(Sets().size(), 1u);
    EXPECT_THAT(ReadText("record.log"), HasSubstr("INTERRUPTED"));
    for (const std::string& line : LinesOf(Wire())) {
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
    const std::vector<std::string> record = LinesOf(ReadText("record.log"));
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
        ASSERT_EQ(runOnState({"provision", Path("profile.json")}, std::string(command) + "\n"), 0) << err << out;
        EXPECT_THAT(out, HasSubstr("virtual:7410/1: ")) << command;
        EXPECT_THAT(out, HasSubstr("Provisioned 2 controllers: 2 OK")) << command;
        ASSERT_EQ(runOnState({"get", "audio.dsp"}, ""), 0) << err;
        EXPECT_EQ(out, changed) << "after " << command;
        ASSERT_EQ(runOnState({"get", "door.open-code"}, ""), 0) << err;
        EXPECT_EQ(out, "42\n") << "what provision wrote to the first unit is kept, after " << command;
        hooks.stop = &stop;
    }
}

// A whole bench at once: each unit under its own worker. The parallel path on the virtual bench, where
// ThreadSanitizer sees it.
struct ProvisionBench : Provision {
    // `n` units beside the first, each with a short restart and `latency` per transfer.
    void Attach(int n, std::chrono::microseconds latency = {})
    {
        controller.FirstUnit().SetLatency(latency);
        for (int i = 0; i < n; ++i) {
            controller.Attach();
        }
        for (const std::string& path : controller.UnitPaths()) {
            controller.Unit(path).SetRebootTimes(std::chrono::milliseconds(20), std::chrono::milliseconds(20));
        }
    }
    // The result line of each unit, by its path; the summary under "".
    std::map<std::string, std::string> Results()
    {
        std::map<std::string, std::string> results;
        for (const std::string& line : LinesOf(out)) {
            const std::size_t mark = line.find(": ");
            results[line.rfind("virtual:", 0) == 0 ? line.substr(0, mark) : std::string()] = line;
        }
        return results;
    }
};

TEST_F(ProvisionBench, EightAtOnceEndAsEachWouldAloneWithOneWholeRecordLineEach)
{
    sim::VirtualController alone;
    alone.FirstUnit().SetRebootTimes(std::chrono::milliseconds(20), std::chrono::milliseconds(20));
    hooks.controller = &alone;
    ASSERT_EQ(Run({"provision", Path("profile.json"), "--flash", "--once"}), 0) << err;
    const std::string byItself = Untagged(Wire());
    ClearWire();

    // At a pace, so that they run side by side and restart at about the same time.
    hooks.controller = &controller;
    Attach(7, std::chrono::microseconds(100));
    ASSERT_EQ(Run({"provision", Path("profile.json"), "--flash", "--count", "8", "--log", Path("record.log")}), 0)
        << err;
    const std::map<std::string, std::string> results = Results();
    ASSERT_EQ(results.size(), 9u) << out;
    ASSERT_TRUE(results.count("")) << out;
    EXPECT_EQ(results.at(""), "Provisioned 8 controllers: 8 OK, 0 failed, 0 interrupted.");
    const std::map<std::string, std::string> wire = WireByUnit(Wire());
    EXPECT_EQ(wire.size(), 8u);
    for (const std::string& path : controller.UnitPaths()) {
        SCOPED_TRACE(path);
        ASSERT_TRUE(results.count(path)) << out;
        EXPECT_EQ(results.at(path), path + ": firmware 1.05.2 -> 2.01.0, 3 settings written, OK");
        EXPECT_EQ(wire.count(path) ? wire.at(path) : "", byItself);
        EXPECT_EQ(controller.Unit(path).ProgrammingCount(), 1);
        EXPECT_EQ(TextOn(path, Address("door.open-code")), "42");
    }
    // One whole line per unit, however close together they ended.
    const std::vector<std::string> record = LinesOf(ReadText("record.log"));
    ASSERT_EQ(record.size(), 8u);
    std::set<std::string> recorded;
    for (const std::string& line : record) {
        EXPECT_THAT(line, MatchesStdRegex("[-0-9T:+]+ provision .*profile.json (virtual:7410/[0-7]): firmware 1.05.2 "
                                          "-> 2.01.0, 3 settings written, OK"));
        recorded.insert(line.substr(line.find("virtual:")));
    }
    EXPECT_EQ(recorded.size(), 8u);
    // Off a terminal each step is a plain line of its unit.
    EXPECT_THAT(err, HasSubstr("virtual:7410/5: installing firmware 2.01.0\n"));
    EXPECT_THAT(err, HasSubstr("virtual:7410/5: writing the profile\n"));

    // --jobs bounds how many at once; the others wait for a free worker and are then done like the rest.
    for (const std::string& path : controller.UnitPaths()) {
        controller.Unit(path).Unplug();
    }
    for (int i = 0; i < 3; ++i) {
        controller.Attach(CarriedFirmwareVersion());
    }
    ASSERT_EQ(Run({"provision", Path("profile.json"), "--jobs", "2", "--count", "3"}), 0) << err;
    ASSERT_EQ(Results().size(), 4u) << out;
    EXPECT_EQ(Results().at(""), "Provisioned 3 controllers: 3 OK, 0 failed, 0 interrupted.");
    for (const char* path : {"virtual:7410/8", "virtual:7410/9", "virtual:7410/10"}) {
        EXPECT_EQ(Results().at(path), std::string(path) + ": firmware 2.01.0 -> 2.01.0, 3 settings written, OK");
    }
}

TEST_F(ProvisionBench, AFailingAndAPulledOutUnitEndAloneAndAStopLeavesEveryUnitStated)
{
    Attach(3);
    controller.Unit("virtual:7410/1").FailNthTransfer(900);           // mid-install
    controller.Unit("virtual:7410/2").PullOutAfterNthTransfer(1200);  // mid-install
    EXPECT_EQ(Run({"provision", Path("profile.json"), "--flash", "--count", "4"}), 1) << err;
    std::map<std::string, std::string> results = Results();
    ASSERT_EQ(results.size(), 5u) << out;
    EXPECT_EQ(results.at("virtual:7410/0"), "virtual:7410/0: firmware 1.05.2 -> 2.01.0, 3 settings written, OK");
    EXPECT_EQ(results.at("virtual:7410/3"), "virtual:7410/3: firmware 1.05.2 -> 2.01.0, 3 settings written, OK");
    EXPECT_THAT(results.at("virtual:7410/1"), StartsWith("virtual:7410/1: firmware 1.05.2 -> unknown, 0 settings "
                                                         "written, FAILED: programming failed"));
    EXPECT_THAT(results.at("virtual:7410/2"), StartsWith("virtual:7410/2: firmware 1.05.2 -> unknown, 0 settings "
                                                         "written, FAILED: programming failed"));
    EXPECT_EQ(results.at(""), "Provisioned 4 controllers: 2 OK, 2 failed, 0 interrupted.");

    // Ctrl+C while three are programming: each ends at its next safe point and says where it is.
    sim::VirtualController bench;
    hooks.controller = &bench;
    bench.FirstUnit().SetLatency(std::chrono::milliseconds(1));
    bench.Attach();
    bench.Attach();
    std::thread stopper([&] {
        for (bool started = false; !started; std::this_thread::sleep_for(std::chrono::milliseconds(1))) {
            started = true;
            for (const std::string& path : bench.UnitPaths()) {
                started = started && bench.Unit(path).RecordsReceived() >= 20;
            }
        }
        stop.Request();
    });
    EXPECT_EQ(Run({"provision", Path("profile.json"), "--flash", "--log", Path("stopped.log")}), 1);
    stopper.join();
    results = Results();
    ASSERT_EQ(results.size(), 4u) << out;
    for (const std::string& path : bench.UnitPaths()) {
        EXPECT_EQ(results.at(path), path +
                                        ": firmware 1.05.2 -> unknown, 0 settings written, INTERRUPTED: stopped "
                                        "during programming; " +
                                        ::controller::kUnfinishedProgramming +
                                        ", then run doorphonectl flash again, or doorphonectl restore-defaults to "
                                        "stay on the old firmware");
    }
    EXPECT_EQ(results.at(""), "Provisioned 3 controllers: 0 OK, 0 failed, 3 interrupted.");
    EXPECT_EQ(LinesOf(ReadText("stopped.log")).size(), 3u);
}

}  // namespace

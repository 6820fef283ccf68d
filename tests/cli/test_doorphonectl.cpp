// doorphonectl's commands on the virtual controller, run in-process: what they print, what reaches the
// wire, and their exit codes.
#include "cli/doorphonectl.h"
#include "device/device_link.h"
#include "resources/strings.h"
#include "settings/catalogue.h"
#include "sim/memory_map.h"
#include "sim/virtual_controller.h"
#include "tests/cli/cli_fixture.h"
#include "tests/scoped_env.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

namespace fs = std::filesystem;

TEST_F(Cli, ShowAndShowJson)
{
    ASSERT_EQ(Run({"show"}), 0) << err;
    EXPECT_THAT(out, HasSubstr("Firmware     1.05.2  (the tool carries 2.01.0)"));
    EXPECT_THAT(out, HasSubstr("Station      Model 7407, version 3"));
    EXPECT_THAT(out, HasSubstr("Line level   74 %"));
    EXPECT_THAT(out, HasSubstr("dial.outgoing-call-mode            Outgoing Call Mode               Hotline Dial"));

    ASSERT_EQ(Run({"show", "--json"}), 0);
    const auto doc = nlohmann::json::parse(out);
    EXPECT_EQ(doc["firmware"]["detected"], "1.05.2");
    EXPECT_EQ(doc["firmware"]["available"], "2.01.0");
    EXPECT_EQ(doc["station"]["model"], 7407);
    EXPECT_EQ(doc["lineLevel"], 74);
    EXPECT_EQ(doc["settings"].size(), 35u);
    EXPECT_EQ(doc["settings"]["door.relay-time"]["value"], "3 Seconds");
    EXPECT_EQ(doc["settings"]["door.relay-time"]["position"], 3);
    EXPECT_TRUE(doc["settings"]["door.open-code"]["position"].is_null());  // every key, null where it does not apply
    EXPECT_EQ(doc["settings"]["door.open-code"]["stationOnly"], false);
    EXPECT_TRUE(Sets().empty());  // reading writes nothing
}

TEST_F(Cli, GetByKeyOrLabel)
{
    ASSERT_EQ(Run({"get", "dial.outgoing-call-mode"}), 0);
    EXPECT_EQ(out, "Hotline Dial\t1\n");
    ASSERT_EQ(Run({"get", "dtmf PASSWORD"}), 0);
    EXPECT_EQ(out, "1234\n");
    ASSERT_EQ(Run({"get", "maintenance.firmware-detected"}), 0);
    EXPECT_EQ(out, "1.05.2\n");
    EXPECT_EQ(Run({"get", "dial.nothing"}), 2);
    EXPECT_THAT(err, StartsWith("doorphonectl: unknown setting \"dial.nothing\""));
}

TEST_F(Cli, SetSendsWhatTheWindowSends)
{
    ASSERT_EQ(Run({"set", "audio.speaker-volume", "7"}), 0) << err;
    ASSERT_EQ(Run({"set", "dial.outgoing-dial-number", "0123"}), 0) << err;
    ASSERT_EQ(Run({"set", "Outgoing Dial Number", ""}), 0) << err;
    ASSERT_EQ(Run({"set", "dial.keypad-dial-string-length", "3"}), 0) << err;  // the text "3"...
    ASSERT_EQ(Run({"set", "door.relay-time", "#30"}), 0) << err;               // ...and a position
    ASSERT_EQ(Run({"set", "audio.dsp", "full duplex WITHOUT noise reduction"}), 0) << err;
    const std::vector<std::string> sets = Sets(10);
    ASSERT_EQ(sets.size(), 6u);
    EXPECT_EQ(sets[0], "SET 03 04 32 31 30 37 00 00 00 00");
    EXPECT_EQ(sets[1], "SET 03 08 31 35 30 34 30 31 32 33");
    EXPECT_THAT(sets[2], StartsWith("SET 03 04 31 35 30 30"));
    EXPECT_THAT(sets[3], StartsWith("SET 03 04 31 36 30 32"));
    EXPECT_THAT(sets[4], StartsWith("SET 03 04 33 32 33 30"));
    EXPECT_THAT(sets[5], StartsWith("SET 03 04 32 33 30 31"));
    EXPECT_EQ(controller.FirstUnit().Text({1, 5}), "");
}

TEST_F(Cli, EntryErrorsUseTheWindowsTextsAndSendNothing)
{
    // The window's words after the setting's label, with the limit or the values the window leaves unsaid.
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"set", "door.open-code", "12345"}, "Open Code: Entry too long (at most 4 characters)\n"},
        {{"set", "maintenance.dtmf-password", "12345"}, "DTMF Password: Entry too long (at most 4 characters)\n"},
        {{"set", "door.open-code", "12a"}, "Open Code: Invalid: Must be telephone pad character (0-9, #, *)\n"},
        {{"set", "dial.outgoing-dial-number", "555-1234"},
         "Outgoing Dial Number: Invalid: Must be all numeric. (digits 0-9 only, at most 16)\n"},
        {{"set", "dial.outgoing-dial-number", "01234567890123456"},
         "Outgoing Dial Number: Dial number too long. Maximum is 16 digits.\n"},
        {{"set", "door.employee-access-code", "123456789"},
         "7407 Employee Access Code: Employee Access Code too long. Maximum is 8 digits.\n"},
        {{"set", "alarm.ring-this-number-instead", "12345678901"},
         "Ring this Number Instead: ?? number too long. Maximum is 10 digits.\n"},
        // Judged by characters, as the window judges what is typed into it, whatever their encoding's length.
        {{"set", "door.employee-access-code", "1234567\u00e9"},
         "7407 Employee Access Code: Invalid: Must be all numeric."},
        {{"set", "maintenance.dtmf-password", "\uff11\uff12"},
         "DTMF Password: Invalid: Must be telephone pad character"},
        {{"set", "door.open-code", "123\u00e9"}, "Open Code: Invalid: Must be telephone pad character (0-9, #, *)"},
        {{"set", "door.open-code", "\uff11\uff12\uff13\uff14\uff15"}, "Open Code: Entry too long"},
        {{"set", "dial.outgoing-dial-number", "\xff\xfe"}, "Outgoing Dial Number: Invalid: Must be all numeric."},
        {{"set", "audio.microphone-agc", "sometimes"},
         "Microphone AGC: \"sometimes\" is not a value of audio.microphone-agc; the values are \"On\", \"Off\" (or a "
         "position, #0 to #1)\n"},
        {{"set", "audio.microphone-agc", "2"}, "Microphone AGC: \"2\" is not a value of audio.microphone-agc"},
        {{"set", "door.relay-time", "31"},
         "Relay Time: \"31\" is not a value of door.relay-time; the values are \"1/4 Second\", \"1 Second\", ... "
         "\"30 Seconds\" (31 values; all of them: doorphonectl keys) (or a position, #0 to #30)\n"},
        {{"set", "maintenance.connection", "50"}, "maintenance.connection is read-only"},
    };
    for (const auto& [args, message] : cases) {
        EXPECT_EQ(Run(args), 2) << message;
        EXPECT_THAT(err, StartsWith(std::string("doorphonectl: ") + message));
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);
    }
    EXPECT_TRUE(Sets().empty());
}

TEST_F(Cli, LoopDisconnectOnlyWithLoopCurrent)
{
    ASSERT_EQ(Run({"set", "disconnect.type", "Dialtone"}), 0);
    EXPECT_EQ(Run({"set", "disconnect.loop-disconnect", "1 Second"}), 2);
    EXPECT_THAT(err, HasSubstr("Loop Disconnect can be set only while Disconnect Type is \"Loop Current\""));
    ASSERT_EQ(Run({"set", "disconnect.type", "Loop Current"}), 0);
    EXPECT_EQ(Run({"set", "disconnect.loop-disconnect", "1 Second"}), 0);
}

TEST_F(Cli, DeviceFailuresExitWithOne)
{
    controller.FirstUnit().Unplug();
    EXPECT_EQ(Run({"show"}), 1);
    EXPECT_THAT(err, HasSubstr("no controller found"));
    EXPECT_EQ(Run({"list"}), 0);
    EXPECT_EQ(out, "");
    controller.FirstUnit().Plug();
    ASSERT_EQ(Run({"list"}), 0);
    EXPECT_EQ(out, "virtual:7410/0\t0x7410\taccessible\n");

    controller.FirstUnit().FailNthTransfer(4);  // status, settings, string pool, then the write
    EXPECT_EQ(Run({"set", "audio.dsp", "1"}), 1);
    EXPECT_THAT(err, HasSubstr("refused the report for audio.dsp"));

    // The controller answers the write but still reports the old value afterwards.
    ReportBytes report{};
    report[0] = 4;
    DeviceLink link(controller);
    ASSERT_TRUE(link.FindDevice());
    ASSERT_TRUE(link.GetFeature(report.data(), report.size()));
    controller.FirstUnit().AnswerNextGet(4, std::vector<uint8_t>(report.begin(), report.end()));
    controller.FirstUnit().AnswerNextGet(4, std::vector<uint8_t>(report.begin(), report.end()));
    EXPECT_EQ(Run({"set", "audio.speaker-volume", "9"}), 1);
    EXPECT_THAT(err, HasSubstr("did not take the value of audio.speaker-volume"));
}

// A path that starts with a slash is a path on every system, never an option in the Windows style.
TEST_F(Cli, ASlashStartsAPathNotAnOption)
{
    EXPECT_EQ(Run({"import", "/no-such-profile.json"}), 2);
    EXPECT_THAT(err, HasSubstr("/no-such-profile.json"));
    EXPECT_THAT(err, Not(HasSubstr("is required")));
}

TEST_F(Cli, RestoreDefaults)
{
    ASSERT_EQ(Run({"set", "door.relay-time", "10 Seconds"}), 0);
    ASSERT_EQ(Run({"restore-defaults"}), 0);
    EXPECT_EQ(controller.FirstUnit().ChoiceValue({3, 2}), 3);
    EXPECT_EQ(Sets().back(), "SET 03 02 35 35 00 00");  // each run starts with a clear buffer
}

TEST_F(Cli, ExportThenImportOnAFreshControllerGivesTheSameSettings)
{
    ASSERT_EQ(Run({"set", "door.employee-access-code", "4711"}), 0);
    ASSERT_EQ(Run({"set", "aux.station-output", "Door Alarm"}), 0);
    // An export over one made before replaces it.
    ASSERT_EQ(Run({"export", Path("profile.json")}), 0) << err;
    ASSERT_EQ(Run({"set", "disconnect.type", "Polarity Reversal"}), 0);
    ASSERT_EQ(Run({"export", Path("profile.json")}), 0) << err;
    const sim::Memory exported = controller.FirstUnit().GetMemory();
    const auto profile = nlohmann::json::parse(std::ifstream(Path("profile.json")));
    EXPECT_EQ(profile["format"], "doorphoneconfig-profile");
    EXPECT_EQ(profile["version"], 1);
    EXPECT_EQ(profile["settings"]["aux.station-output"], "Door Alarm");
    EXPECT_EQ(profile["settings"].size(), 35u);

    sim::VirtualController fresh;
    hooks.controller = &fresh;
    ClearWire();
    ASSERT_EQ(Run({"import", Path("profile.json")}), 0) << err;
    EXPECT_EQ(Sets().size(), 3u);  // only what differs
    EXPECT_EQ(fresh.FirstUnit().GetMemory().choices, exported.choices);
    EXPECT_EQ(fresh.FirstUnit().GetMemory().texts, exported.texts);
    ClearWire();
    ASSERT_EQ(Run({"import", Path("profile.json")}), 0);
    EXPECT_THAT(out, HasSubstr("Nothing to change"));
    EXPECT_TRUE(Sets().empty());
}

// Every setting the tool changes lands where the controller's own memory map keeps it, and the tool reads
// it back from there: a wrong address or settings byte in the catalogue fails here.
TEST_F(Cli, EverySettingLandsWhereTheControllerKeepsIt)
{
    sim::Memory expected = controller.FirstUnit().GetMemory();
    nlohmann::json settings = nlohmann::json::object();
    for (const sim::SettingSlot& slot : sim::MemoryMap()) {
        const CatalogueEntry* entry = FindEntryByKey(slot.name);
        ASSERT_NE(entry, nullptr) << slot.name;
        if (slot.kind == sim::SlotKind::Choice) {
            const int position = (expected.choices.at(slot.settingsByte) + 1) % slot.size;
            settings[slot.name] = entry->list->Entry(position);
            expected.choices[slot.settingsByte] = static_cast<uint8_t>(position);
        } else {
            const std::string text(static_cast<std::size_t>(slot.size), static_cast<char>('0' + slot.address.index));
            settings[slot.name] = text;
            expected.texts[slot.settingsByte] = text;
        }
    }
    WriteFile("every.json",
              nlohmann::json{{"format", "doorphoneconfig-profile"}, {"version", 1}, {"settings", settings}}.dump());
    ASSERT_EQ(Run({"import", Path("every.json")}), 0) << err;  // it reads each back and says which did not take
    EXPECT_EQ(controller.FirstUnit().GetMemory().choices, expected.choices);
    EXPECT_EQ(controller.FirstUnit().GetMemory().texts, expected.texts);
}

TEST_F(Cli, ImportWritesLoopDisconnectWhileTheTypeAllowsIt)
{
    WriteFile("p.json", R"({"format": "doorphoneconfig-profile", "version": 1, "settings": {
        "disconnect.type": "Dialtone", "disconnect.loop-disconnect": "1 Second"}})");
    ASSERT_EQ(Run({"import", Path("p.json")}), 0) << err;
    EXPECT_EQ(controller.FirstUnit().ChoiceValue({6, 1}), 2);
    EXPECT_EQ(controller.FirstUnit().ChoiceValue({6, 2}), 4);
    WriteFile("q.json", R"({"format": "doorphoneconfig-profile", "version": 1, "settings": {
        "disconnect.loop-disconnect": "0.1 Seconds"}})");
    EXPECT_EQ(Run({"import", Path("q.json")}), 2);
    EXPECT_EQ(controller.FirstUnit().ChoiceValue({6, 2}), 4);
}

TEST_F(Cli, ABadProfileIsRefusedWholeAndNothingIsSent)
{
    WriteFile("bad.json", R"({"format": "doorphoneconfig-profile", "version": 1, "settings": {
        "audio.speaker-volume": "9",
        "door.open-code": "12345",
        "dial.nothing": "1",
        "audio.dsp": "Loud",
        "door.relay-time": "30",
        "dial.outgoing-dial-number": 5}})");
    EXPECT_EQ(Run({"import", Path("bad.json")}), 2);
    EXPECT_THAT(err, HasSubstr("door.open-code: Entry too long"));
    EXPECT_THAT(err, HasSubstr("unknown key dial.nothing"));
    EXPECT_THAT(err, HasSubstr("audio.dsp: \"Loud\" is not a value"));
    EXPECT_THAT(err, HasSubstr("door.relay-time: \"30\" is not a value"));  // profiles carry texts, not positions
    EXPECT_THAT(err, HasSubstr("dial.outgoing-dial-number: the value must be a text"));
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 5);
    EXPECT_TRUE(Sets().empty());
    EXPECT_EQ(controller.FirstUnit().ChoiceValue({2, 1}), 5);

    WriteFile("other.json", R"({"format": "something-else", "settings": {}})");
    EXPECT_EQ(Run({"import", Path("other.json")}), 2);
    WriteFile("broken.json", "{ not json");
    EXPECT_EQ(Run({"import", Path("broken.json")}), 2);
    EXPECT_EQ(Run({"import", Path("missing.json")}), 2);
    EXPECT_TRUE(Sets().empty());
}

TEST_F(Cli, ImportDryRunSaysAndSendsNothing)
{
    WriteFile("p.json", R"({"format": "doorphoneconfig-profile", "version": 1,
        "settings": {"audio.speaker-volume": "9", "audio.dsp": "Full Duplex with Noise Reduction"}})");
    ASSERT_EQ(Run({"import", Path("p.json"), "--dry-run"}), 0);
    EXPECT_EQ(out, "would set audio.speaker-volume: \"5\" -> \"9\"\n");
    EXPECT_TRUE(Sets().empty());
}

TEST_F(Cli, FlashEndsWithTheCarriedVersionAndTheDefaultsRestoredOnce)
{
    ASSERT_EQ(Run({"set", "door.relay-time", "10 Seconds"}), 0);
    ClearWire();
    ASSERT_EQ(Run({"flash", "--yes"}), 0) << err;
    EXPECT_EQ(out, "Firmware 2.01.0 installed; defaults restored.\n");
    EXPECT_EQ(controller.FirstUnit().ProgrammingCount(), 1);
    EXPECT_EQ(controller.FirstUnit().GetMemory().firmware1, 0x20);
    EXPECT_EQ(controller.FirstUnit().ChoiceValue({3, 2}), 3);
    int restores = 0;
    for (const std::string& s : Sets(4)) {
        restores += s == "SET 03 02 35 35";
    }
    EXPECT_EQ(restores, 1);
}

TEST_F(Cli, FlashOnAControllerPulledOutMidStreamFails)
{
    controller.FirstUnit().PullOutAfterNthTransfer(500);
    EXPECT_EQ(Run({"flash", "--yes"}), 1);
    EXPECT_THAT(err, HasSubstr("programming failed: No such device"));
    EXPECT_THAT(err, HasSubstr("restore-defaults"));
    EXPECT_EQ(controller.FirstUnit().ProgrammingCount(), 0);
}

TEST_F(Cli, FlashAsksFirst)
{
    EXPECT_EQ(Run({"flash"}), 2);  // no terminal, no --yes
    EXPECT_THAT(err, HasSubstr("--yes"));
    terminal = true;
    input = "n\n";
    {
        const ScopedEnv wide("COLUMNS", "120");
        EXPECT_EQ(Run({"flash"}), 0);
        EXPECT_THAT(err,
                    HasSubstr("Installing this firmware will reset all settings to default.  Are you sure you want "
                              "to continue? [y/N] "));
    }
    // At 80 columns the question wraps in place of its spaces, and the words stay the window's.
    const ScopedEnv narrow("COLUMNS", "80");
    EXPECT_EQ(Run({"flash"}), 0);
    EXPECT_THAT(err,
                HasSubstr("Installing this firmware will reset all settings to default.  Are you sure you\nwant to "
                          "continue? [y/N] Nothing installed.\n"));
    EXPECT_EQ(controller.FirstUnit().TransferCount(), 0);
    hooks.returnTimeout = std::chrono::milliseconds(1);
    controller.FirstUnit().SetRebootTimes(std::chrono::milliseconds(0), std::chrono::seconds(30));
    input = "y\n";
    EXPECT_EQ(Run({"flash"}), 1);
    EXPECT_THAT(err, HasSubstr("did not come back within"));
}

TEST_F(Cli, StateFileKeepsTheMemoryBetweenRuns)
{
    hooks.controller = nullptr;  // each run makes its own virtual controller
    const std::string state = "--simulate=" + Path("state.json");
    std::istringstream in;
    std::ostringstream o, e;
    CliIo io{in, o, e, false, false};
    // Each change replaces the file that the one before made (which a plain rename does not do on Windows).
    ASSERT_EQ(DoorphonectlMain({"doorphonectl", state, "set", "door.open-code", "*78#"}, io, &hooks), 0) << e.str();
    ASSERT_EQ(DoorphonectlMain({"doorphonectl", state, "set", "door.open-code", "*77#"}, io, &hooks), 0) << e.str();
    ASSERT_EQ(DoorphonectlMain({"doorphonectl", state, "get", "door.open-code"}, io, &hooks), 0);
    EXPECT_EQ(o.str(), "door.open-code = \"*78#\"\ndoor.open-code = \"*77#\"\n*77#\n");
    WriteFile("state.json", "{}");
    EXPECT_EQ(DoorphonectlMain({"doorphonectl", state, "show"}, io, &hooks), 2);
    EXPECT_THAT(e.str(), HasSubstr("cannot use the state file"));
}

TEST_F(Cli, KeysHelpAndUsage)
{
    ASSERT_EQ(Run({"keys"}), 0);  // its columns: test_terminal_words.cpp
    EXPECT_THAT(out, HasSubstr("door.open-code"));
    EXPECT_EQ(Run({"--help"}), 0);
    EXPECT_THAT(out, HasSubstr("import"));
    EXPECT_EQ(Run({"import", "--help"}), 0);
    EXPECT_THAT(out, HasSubstr("--dry-run"));
    EXPECT_EQ(Run({"frobnicate"}), 2);
    EXPECT_EQ(Run({}), 2);
    EXPECT_EQ(Run({"get"}), 2);
}

}  // namespace

namespace {

TEST_F(Cli, VersionIsTheOneTheWindowShows)
{
    EXPECT_EQ(Run({"--version"}), 0);
    EXPECT_EQ(out, std::string("doorphonectl ") + kToolVersion + "\n");
    EXPECT_THAT(kVersionLineText, HasSubstr(kToolVersion));
}

TEST_F(Cli, ListKeysAndGetAsJson)
{
    ASSERT_EQ(Run({"list", "--json"}), 0) << err;
    const auto list = nlohmann::json::parse(out);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0],
              (nlohmann::json{{"path", controller.FirstUnit().Path()}, {"productId", "0x7410"}, {"accessible", true}}));
    controller.FirstUnit().Unplug();
    ASSERT_EQ(Run({"list", "--json"}), 0);
    EXPECT_EQ(nlohmann::json::parse(out), nlohmann::json::array());
    controller.FirstUnit().Plug();

    ASSERT_EQ(Run({"keys", "--json"}), 0);
    const auto keys = nlohmann::json::parse(out);
    ASSERT_EQ(keys.size(), ParameterCatalogue().size());
    auto byKey = [&](const std::string& key) {
        for (const auto& k : keys) {
            if (k["key"] == key) {
                return k;
            }
        }
        return nlohmann::json();
    };
    const auto relay = byKey("door.relay-time");
    EXPECT_EQ(relay["kind"], "choice");
    EXPECT_EQ(relay["tab"], "Door Control");
    EXPECT_EQ(relay["label"], "Relay Time");
    EXPECT_EQ(relay["values"].size(), 31u);
    EXPECT_EQ(relay["values"][3], "3 Seconds");
    EXPECT_TRUE(relay["rule"].is_null());  // every key on every item, null where it does not apply
    EXPECT_TRUE(relay["maxLength"].is_null());
    const auto password = byKey("maintenance.dtmf-password");
    EXPECT_EQ(password["kind"], "text");
    EXPECT_EQ(password["rule"], "telephone-pad");
    EXPECT_EQ(password["maxLength"], 4);
    EXPECT_TRUE(password["values"].is_null());
    EXPECT_EQ(byKey("dial.keypad-dial-string-length")["stationOnly"], true);

    ASSERT_EQ(Run({"get", "door.relay-time", "--json"}), 0) << err;
    EXPECT_EQ(nlohmann::json::parse(out),
              (nlohmann::json{{"key", "door.relay-time"}, {"value", "3 Seconds"}, {"position", 3}}));
    ASSERT_EQ(Run({"get", "DTMF Password", "--json"}), 0) << err;
    EXPECT_EQ(nlohmann::json::parse(out),
              (nlohmann::json{{"key", "maintenance.dtmf-password"}, {"value", "1234"}, {"position", nullptr}}));
}

}  // namespace

namespace {

// Erased or Latin-1 string memory, as a real controller may hold it.
TEST_F(Cli, TextsThatAreNotUtf8GoIntoJsonAsLatin1AndShowReadably)
{
    auto pool = [&] {
        std::vector<uint8_t> p(63, 0);
        p[0] = 5;
        p[1] = 0xFF;
        p[2] = 0xE9;  // é in Latin-1
        p[3] = 0x01;
        return p;
    };
    // The DTMF password's text starts at position 1 of the pool the controller lays out.
    controller.FirstUnit().AnswerNextGet(5, pool());
    ASSERT_EQ(Run({"show", "--json"}), 0) << err;
    const auto doc = nlohmann::json::parse(out);
    EXPECT_EQ(doc["settings"]["maintenance.dtmf-password"]["value"], "\u00ff\u00e9\u0001");

    controller.FirstUnit().AnswerNextGet(5, pool());
    ASSERT_EQ(Run({"export", "-"}), 0) << err;
    EXPECT_EQ(nlohmann::json::parse(out)["settings"]["maintenance.dtmf-password"], "\u00ff\u00e9\u0001");

    controller.FirstUnit().AnswerNextGet(5, pool());
    ASSERT_EQ(Run({"get", "maintenance.dtmf-password"}), 0) << err;
    EXPECT_EQ(out, "\u00ff\u00e9\\x01\n");
}

}  // namespace

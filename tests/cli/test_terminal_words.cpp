// doorphonectl for a person at a terminal: the nearest commands and keys to a mistyped one, every message
// after "doorphonectl:", help and keys that fit the terminal's width, a line that confirms a change, a
// plain number that is a list's text, and the system's own words for a failed transfer.
#include "cli/commands.h"
#include "cli/terminal_text.h"
#include "session/stop_request.h"
#include "sim/virtual_controller.h"
#include "tests/cli/cli_fixture.h"
#include "tests/scoped_env.h"
#include "tests/std_regex.h"
#include "tests/text_lines.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <sstream>
#include <thread>

using ::testing::AllOf;

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

namespace {

// COLUMNS set for one test, and put back as it was.
// COLUMNS as the user's shell would set it.
class Columns : public ScopedEnv {
public:
    explicit Columns(const char* value) : ScopedEnv("COLUMNS", value) {}
};

std::size_t Longest(const std::string& text)
{
    std::size_t longest = 0;
    for (const std::string& line : LinesOf(text)) {
        longest = std::max(longest, line.size());
    }
    return longest;
}

TEST_F(Cli, AMistypedCommandIsNamedWithTheNearestOnes)
{
    EXPECT_EQ(Run({"shwo"}), 2);
    EXPECT_EQ(err, "doorphonectl: unknown command \"shwo\"; did you mean \"show\"?\n");
    EXPECT_EQ(out, "");
    EXPECT_EQ(Run({"--device", "virtual:7410/0", "gte", "door.relay-time"}), 2);  // an option's value is no command
    EXPECT_EQ(err, "doorphonectl: unknown command \"gte\"; did you mean \"get\" or \"set\"?\n");
    EXPECT_EQ(Run({"frobnicate"}), 2);
    EXPECT_THAT(err, StartsWith("doorphonectl: unknown command \"frobnicate\"; the commands are list, show, get, set, "
                                "restore-defaults, flash, export, import, provision, keys"));
    EXPECT_TRUE(Sets().empty());
    EXPECT_EQ(Run({"--device", "virtual:7410/0", "show"}), 0) << err;  // a command after an option's value
}

TEST_F(Cli, AMistypedOptionHelpAndABareCallSayWhatToType)
{
    EXPECT_EQ(Run({"show", "--jsn"}), 2);
    EXPECT_EQ(err, "doorphonectl: unknown option \"--jsn\" for show; did you mean \"--json\"?\n");
    EXPECT_EQ(Run({"flash", "--y"}), 2);
    EXPECT_EQ(err, "doorphonectl: unknown option \"--y\" for flash; did you mean \"--yes\"?\n");
    EXPECT_EQ(Run({"--devise", "virtual:7410/0", "show"}), 2);
    EXPECT_THAT(err, StartsWith("doorphonectl: unknown option \"--devise\" for show; did you mean \"--device\"?"));
    EXPECT_EQ(Run({"get", "door.relay-time", "--frobnicate"}), 2);
    EXPECT_EQ(err, "doorphonectl: unknown option \"--frobnicate\" for get (see: doorphonectl get --help)\n");
    EXPECT_EQ(Run({"export", "-"}), 0) << err;  // "-" is standard output, no option
    EXPECT_TRUE(Sets().empty());

    // No command: a short usage with the commands, on standard error, and exit 2.
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, std::vector<std::string>{"-v"}}) {
        EXPECT_EQ(Run(args), 2);
        EXPECT_EQ(out, "");
        EXPECT_THAT(err, HasSubstr("doorphonectl: usage: doorphonectl [OPTIONS] COMMAND [ARGUMENTS]\n"));
        EXPECT_THAT(err, HasSubstr("doorphonectl: commands: list, show, get, set, restore-defaults"));
        EXPECT_THAT(err, HasSubstr("provision, keys\n"));
        EXPECT_THAT(err, HasSubstr("doorphonectl help COMMAND\n"));
        EXPECT_THAT(err, HasSubstr("exit codes: doorphonectl --help\n"));
        EXPECT_THAT(err, Not(HasSubstr("A subcommand is required")));
    }
    EXPECT_THAT(err, StartsWith("doorphonectl: unknown option \"-v\"; did you mean \"--version\"?\n"));
    EXPECT_EQ(Run({}), 2);
    EXPECT_THAT(err, StartsWith("doorphonectl: a command is required\n"));

    // help and help COMMAND; the exit codes once, in the program's help only.
    ASSERT_EQ(Run({"help"}), 0) << err;
    EXPECT_THAT(out, HasSubstr("Exit codes: 0 done"));
    EXPECT_THAT(out, HasSubstr("provision"));
    ASSERT_EQ(Run({"help", "set"}), 0) << err;
    const std::string helpSet = out;
    ASSERT_EQ(Run({"set", "--help"}), 0) << err;
    EXPECT_EQ(out, helpSet);
    EXPECT_EQ(Run({"help", "sett"}), 2);
    EXPECT_THAT(err, StartsWith("doorphonectl: unknown command \"sett\"; did you mean \"set\""));
    EXPECT_EQ(Run({"hepl"}), 2);
    EXPECT_THAT(err, HasSubstr("did you mean \"help\""));
    const std::pair<const char*, bool> commands[] = {
        {"list", false}, {"show", true},   {"get", true},    {"set", true},       {"restore-defaults", true},
        {"flash", true}, {"export", true}, {"import", true}, {"provision", true}, {"keys", false}};
    for (const auto& [command, device] : commands) {
        ASSERT_EQ(Run({"help", command}), 0) << command;
        EXPECT_THAT(out, HasSubstr("Examples:\n  doorphonectl ")) << command;
        EXPECT_EQ(out.find("doorphonectl " + std::string(command)) != std::string::npos, true) << command;
        EXPECT_EQ(out.find("--device PATH") != std::string::npos, device) << command;
        EXPECT_THAT(out, Not(HasSubstr("Exit codes: 0 done"))) << command;
    }
}

// Into a log, flash says its start and every tenth of the image, each on a line of its own, as it goes.
TEST_F(Cli, FlashIntoALogSaysItsStartAndEachTenthOnALineOfItsOwn)
{
    ASSERT_EQ(Run({"flash", "--yes"}), 0) << err;
    EXPECT_EQ(err.find('\r'), std::string::npos);
    const std::vector<std::string> lines = LinesOf(err);
    ASSERT_GE(lines.size(), 11u) << err;
    EXPECT_EQ(lines[0], "Installing firmware 2.01.0 on virtual:7410/0");
    for (int tenth = 1; tenth <= 10; ++tenth) {
        EXPECT_EQ(lines[static_cast<std::size_t>(tenth)], "Installing firmware: " + std::to_string(tenth * 10) + " %");
    }
    EXPECT_EQ(lines[11], "Programming complete; waiting for the controller to restart.");

    // At a terminal, one bar redrawn in place instead.
    errTerminal = true;
    ASSERT_EQ(Run({"flash", "--yes"}), 0) << err;
    EXPECT_THAT(err, Not(HasSubstr("Installing firmware: 10 %")));
    EXPECT_THAT(err, HasSubstr("\r"));
}

// show at a narrow terminal: every line within its width; into a pipe the columns scripts know.
TEST_F(Cli, ShowFitsANarrowTerminal)
{
    const Columns columns("50");
    outTerminal = true;
    ASSERT_EQ(Run({"show"}), 0) << err;
    EXPECT_LE(Longest(out), 50u) << out;
    EXPECT_THAT(out, HasSubstr("  dial.outgoing-call-mode\n      Outgoing Call Mode: Hotline Dial\n"));
    outTerminal = false;
    ASSERT_EQ(Run({"show"}), 0) << err;
    EXPECT_THAT(out, HasSubstr("dial.outgoing-call-mode            Outgoing Call Mode               Hotline Dial"));
}

TEST_F(Cli, AMistypedKeyIsNamedWithTheNearestKeys)
{
    EXPECT_EQ(Run({"set", "dial.outgoing-call-mod", "1"}), 2);
    EXPECT_THAT(err, StartsWith("doorphonectl: unknown setting \"dial.outgoing-call-mod\"; did you mean "
                                "\"dial.outgoing-call-mode\""));
    // The part after the dot alone: the key whose last part it is comes first.
    EXPECT_EQ(Run({"set", "outgoing-call-mode", "1"}), 2);
    EXPECT_THAT(err, StartsWith("doorphonectl: unknown setting \"outgoing-call-mode\"; did you mean "
                                "\"dial.outgoing-call-mode\""));
    EXPECT_EQ(Run({"get", "door.relay-tim"}), 2);
    EXPECT_THAT(err, HasSubstr("did you mean \"door.relay-time\""));
    EXPECT_EQ(Run({"get", "audio.nothing-like-it"}), 2);
    EXPECT_THAT(err, AllOf(HasSubstr("unknown setting"), Not(HasSubstr("did you mean"))));
    EXPECT_TRUE(Sets().empty());
}

TEST_F(Cli, NearestKeysPutAnExactLastPartFirst)
{
    const std::vector<std::string> near = NearestKeys("audio.relay-time");
    ASSERT_FALSE(near.empty());
    EXPECT_EQ(near.front(), "door.relay-time");
    EXPECT_TRUE(NearestKeys("zzzzzzzzzzzzzzzz").empty());
}

TEST_F(Cli, EveryMessageOnStandardErrorStartsWithTheProgramsName)
{
    const std::vector<std::vector<std::string>> cases = {{},
                                                         {"get"},
                                                         {"set", "door.relay-time"},
                                                         {"show", "--bogus"},
                                                         {"shwo"},
                                                         {"keys", "extra"},
                                                         {"import", "/nonexistent/profile.json"},
                                                         {"set", "nothing.here", "1"}};
    for (const std::vector<std::string>& args : cases) {
        EXPECT_EQ(Run(args), 2);
        ASSERT_FALSE(err.empty());
        for (const std::string& line : LinesOf(err)) {
            EXPECT_THAT(line, StartsWith("doorphonectl: ")) << "in: " << err;
        }
    }
}

TEST_F(Cli, HelpAndKeysFitTheTerminalsWidth)
{
    for (const char* width : {"80", "50"}) {
        const Columns columns(width);
        const std::size_t most = static_cast<std::size_t>(std::atoi(width));
        std::vector<std::vector<std::string>> runs = {{"--help"}, {"keys"}};
        for (const char* command :
             {"list", "show", "get", "set", "restore-defaults", "flash", "export", "import", "provision", "keys"}) {
            runs.push_back({command, "--help"});
        }
        for (const std::vector<std::string>& args : runs) {
            ASSERT_EQ(Run(args), 0) << err;
            EXPECT_LE(Longest(out), most) << args.front() << " at " << width << ":\n" << out;
            EXPECT_THAT(out, Not(HasSubstr("\n\n\n")));
        }
    }
    // Wrapped at spaces: every word of the help is there whole.
    const Columns columns("50");
    ASSERT_EQ(Run({"--help"}), 0);
    EXPECT_THAT(out, HasSubstr("restore-defaults"));
    EXPECT_THAT(out, ContainsStdRegex("--simulate +use the built-in"));
    EXPECT_THAT(out, HasSubstr("\n                              virtual controller;\n"));
}

TEST_F(Cli, KeysStandInAlignedColumnsWithTheValuesUnderTheirOwn)
{
    {
        const Columns wide("600");
        ASSERT_EQ(Run({"keys"}), 0);
        const std::vector<std::string> lines = LinesOf(out);
        ASSERT_EQ(lines.size(), 39u);  // one line a key where there is room
        EXPECT_THAT(out,
                    ContainsStdRegex("\ndial.outgoing-call-mode +Dial +choice +0=No Outgoing Calls; 1=Hotline Dial;"));
        EXPECT_THAT(
            out, ContainsStdRegex("\ndoor.open-code +Door Control +text +telephone-pad characters \\(0-9, #, \\*\\), "
                                  "at most 4\n"));
        const std::size_t valuesAt = lines[0].find("read-only");
        for (const std::string& line : lines) {
            EXPECT_GT(line.size(), valuesAt);
            EXPECT_NE(line[valuesAt], ' ') << line;
            EXPECT_EQ(line[valuesAt - 1], ' ') << line;
        }
    }
    const Columns columns("80");
    ASSERT_EQ(Run({"keys"}), 0);
    const std::vector<std::string> lines = LinesOf(out);
    ASSERT_GT(lines.size(), 39u);
    // A value that goes on below its key starts under the values' column, never under the key.
    const std::size_t valuesAt = lines[0].find("read-only");
    for (const std::string& line : lines) {
        if (line.front() == ' ') {
            EXPECT_EQ(line.find_first_not_of(' '), valuesAt) << line;
        }
    }
    {
        // Too narrow for the columns: each key at the start of its line, with what it is; the rest below it.
        const Columns narrow("50");
        ASSERT_EQ(Run({"keys"}), 0);
        std::size_t keys = 0;
        for (const std::string& line : LinesOf(out)) {
            if (line.front() != ' ') {
                ++keys;
                EXPECT_THAT(line, ContainsStdRegex("^[a-z]+\\.[a-z-]+(  [A-Z][A-Za-z /]+, (choice|text|status))?$"));
            }
        }
        EXPECT_EQ(keys, 39u);
        EXPECT_THAT(out, HasSubstr("\ndial.outgoing-call-mode  Dial, choice\n    0=No Outgoing Calls; 1=Hotline"));
        EXPECT_THAT(out,
                    HasSubstr("\ndisconnect.call-button-ends-call\n    Disconnect Options, choice\n    0=No; 1=Yes;"));
    }
    ASSERT_EQ(Run({"keys", "--json"}), 0);
    EXPECT_THAT(out, StartsWith("[\n  {\n    \"key\": \"maintenance.firmware-detected\""));
}

TEST_F(Cli, ASetSaysWhatItWrote)
{
    ASSERT_EQ(Run({"set", "door.relay-time", "30"}), 0) << err;
    EXPECT_EQ(out, "door.relay-time = \"30 Seconds\"\n");
    EXPECT_EQ(err, "");
    ASSERT_EQ(Run({"set", "Outgoing Dial Number", ""}), 0) << err;
    EXPECT_EQ(out, "dial.outgoing-dial-number = \"\"\n");
    EXPECT_EQ(Run({"set", "door.open-code", "12345"}), 2);
    EXPECT_EQ(out, "");  // nothing written, nothing confirmed
}

TEST_F(Cli, APlainNumberForAListOfNumbersIsItsText)
{
    EXPECT_EQ(Run({"set", "dial.keypad-dial-string-length", "0"}), 2);
    EXPECT_EQ(err,
              "doorphonectl: 7407 Keypad Dial String Length: \"0\" is not a value of dial.keypad-dial-string-length: "
              "the values are 1 to 16 (or a position, #0 to #15)\n");
    EXPECT_EQ(Run({"set", "dial.keypad-dial-string-length", "17"}), 2);
    EXPECT_TRUE(Sets().empty());
    ASSERT_EQ(Run({"set", "dial.keypad-dial-string-length", "16"}), 0) << err;
    EXPECT_EQ(out, "dial.keypad-dial-string-length = \"16\"\n");
    ASSERT_EQ(Run({"set", "dial.keypad-dial-string-length", "#0"}), 0) << err;  // #N stays the position
    EXPECT_EQ(out, "dial.keypad-dial-string-length = \"1\"\n");
    // Where the entries are texts, a plain number is still the position.
    ASSERT_EQ(Run({"set", "disconnect.type", "1"}), 0) << err;
    EXPECT_EQ(out, "disconnect.type = \"Polarity Reversal\"\n");
}

TEST_F(Cli, ListWithNothingAttachedSaysSo)
{
    controller.FirstUnit().Unplug();
    ASSERT_EQ(Run({"list"}), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "doorphonectl: no controller found\n");
    ASSERT_EQ(Run({"list", "--json"}), 0);
    EXPECT_EQ(out, "[]\n");
    EXPECT_EQ(err, "doorphonectl: no controller found\n");
    controller.FirstUnit().Plug();
    ASSERT_EQ(Run({"list"}), 0);
    EXPECT_EQ(err, "");
}

TEST_F(Cli, TheFlashProgressLineFitsTheTerminal)
{
    errTerminal = true;
    for (const char* width : {"80", "50", "30"}) {
        const Columns columns(width);
        ASSERT_EQ(Run({"flash", "--yes"}), 0) << err;
        std::size_t longest = 0, bars = 0;
        std::string piece;
        for (char c : err) {
            if (c == '\r' || c == '\n') {
                longest = std::max(longest, piece.find(" %") != std::string::npos ? piece.size() : 0);
                bars += piece.find("100 %") != std::string::npos;
                piece.clear();
            } else {
                piece += c;
            }
        }
        EXPECT_LT(longest, static_cast<std::size_t>(std::atoi(width))) << err;
        EXPECT_GE(bars, 1u) << err;
    }
}

TEST(SystemWords, TheHidLibrarysPrefixIsLeftOut)
{
    EXPECT_EQ(SystemWords("ioctl (GFEATURE): Broken pipe"), "Broken pipe");
    EXPECT_EQ(SystemWords("the controller refused: ioctl (SFEATURE): Connection timed out; already written: x"),
              "the controller refused: Connection timed out; already written: x");
    EXPECT_EQ(SystemWords("Input/output error"), "Input/output error");
}

TEST_F(Cli, AFailureSaysTheSystemsWordsOnly)
{
    std::istringstream in;
    std::ostringstream o, e;
    CliIo io{in, o, e, false, false};
    CliRun run(io, hooks);
    EXPECT_EQ(run.Fail(kExitDevice, "the controller did not answer the settings read: ioctl (GFEATURE): Broken pipe"),
              kExitDevice);
    EXPECT_EQ(e.str(), "doorphonectl: the controller did not answer the settings read: Broken pipe\n");
    EXPECT_EQ(run.LastFailure(), "the controller did not answer the settings read: Broken pipe");
}

TEST_F(Cli, AStoppedProvisionStartsItsSummaryOnALineOfItsOwnAtATerminal)
{
    StopRequest first, second;  // each run its own, as each process has
    hooks.stop = &first;
    hooks.waiting = [&](int done) {
        if (done >= 1) {
            hooks.stop->Request();  // as Ctrl+C while it waits for the next unit
        }
    };
    WriteFile("profile.json", R"({"format": "doorphoneconfig-profile", "version": 1,
                                  "settings": {"audio.dsp": "Full Duplex without Noise Reduction"}})");
    outTerminal = true;
    Run({"provision", Path("profile.json")});
    EXPECT_THAT(out, HasSubstr(", OK\n\nProvisioned 1 controller: 1 OK, 0 failed, 0 interrupted.\n")) << err;
    outTerminal = false;
    hooks.stop = &second;
    Run({"provision", Path("profile.json")});
    EXPECT_THAT(out, HasSubstr("\nProvisioned 1 controller")) << err;
    EXPECT_THAT(out, Not(HasSubstr("\n\nProvisioned"))) << out;  // into a file or a pipe: no empty line

    // A stop during a unit, at a terminal: its result line starts a line of its own, and the summary follows it.
    StopRequest third;
    hooks.stop = &third;
    hooks.waiting = nullptr;
    outTerminal = true;
    controller.FirstUnit().Unplug();
    controller.FirstUnit().Plug();  // a unit the next run has not done
    WriteFile("profile.json", R"({"format": "doorphoneconfig-profile", "version": 1, "settings": {
        "audio.dsp": "Full Duplex with Noise Reduction", "door.open-code": "42", "audio.speaker-volume": "7"}})");
    controller.FirstUnit().SetLatency(std::chrono::milliseconds(50));
    const auto before = controller.FirstUnit().TransferCount();
    std::thread stopper([&] {
        while (controller.FirstUnit().TransferCount() < before + 3) {  // the first write is under way
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        third.Request();
    });
    Run({"provision", Path("profile.json")});
    stopper.join();
    EXPECT_THAT(out, StartsWith("\nvirtual:7410/0: ")) << out;
    EXPECT_THAT(out, HasSubstr("INTERRUPTED")) << out;
    EXPECT_THAT(out, HasSubstr("\nProvisioned 1 controller")) << out;
    EXPECT_THAT(out, Not(HasSubstr("\n\nProvisioned"))) << out;  // one line ended, once
}

}  // namespace

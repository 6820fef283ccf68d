// doorphonectl's command line: its options and commands, and the table that runs each command.
#include "cli/doorphonectl.h"

#include "cli/checked_output.h"
#include "cli/commands.h"
#include "cli/terminal_text.h"
#include "device/device_path.h"
#include "portable/file_io.h"
#include "portable/system.h"
#include "resources/strings.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <iterator>
#include <sstream>

namespace {

// What a command does to a controller: decides whether it needs the backend, and what it may do when
// several controllers are attached and --device chooses none.
enum class Reach { None, List, Reads, Changes, Bench };

// Each command: its name, what it does, its reach, and the function that runs it.
struct Command {
    const char* name;
    const char* help;
    Reach reach;
    int (*run)(CliRun&, const CommandArgs&);
    const char* examples;  // one or two command lines, each after a newline
};

const Command kCommands[] = {
    {"list", "controllers present: path, product id, and whether this user may open it", Reach::List, ListCommand,
     "\n  doorphonectl list\n  doorphonectl list --json"},
    {"show", "firmware detected and available, station, line level, every setting", Reach::Reads, ShowCommand,
     "\n  doorphonectl show\n  doorphonectl --device /dev/hidraw1 show --json"},
    {"get", "one setting: its value text, and for a choice a tab character and its list position", Reach::Reads,
     GetCommand, "\n  doorphonectl get door.relay-time\n  doorphonectl get \"DTMF Password\" --json"},
    {"set", "change one setting; checked by the window's entry rules and messages, then read back", Reach::Changes,
     SetCommand,
     "\n  doorphonectl set dial.outgoing-call-mode \"Hotline Dial\"\n  doorphonectl set door.open-code 1234"},
    {"restore-defaults", "return every setting of the controller to its default", Reach::Changes,
     RestoreDefaultsCommand,
     "\n  doorphonectl restore-defaults\n  doorphonectl --device /dev/hidraw1 restore-defaults"},
    {"flash",
     "install the carried firmware, wait for the controller's restart, restore its defaults as the window does, and "
     "check the version it now runs",
     Reach::Changes, FlashCommand, "\n  doorphonectl flash\n  doorphonectl flash --yes --log units.log"},
    {"export", "write every setting, station-only ones included, as a JSON profile", Reach::Reads, ExportCommand,
     "\n  doorphonectl export site.json\n  doorphonectl export - > site.json"},
    {"import",
     "check a whole profile first (nothing is sent when any of it is wrong), write only the settings that differ, "
     "then read back and report any that did not take",
     Reach::Changes, ImportCommand, "\n  doorphonectl import site.json --dry-run\n  doorphonectl import site.json"},
    {"provision",
     "every controller plugged in, all at once and each new one as it arrives: read it, install the carried firmware "
     "when --flash is given and it runs an older one, import the profile, and print one result line each; Ctrl+C "
     "ends with a summary",
     Reach::Bench, ProvisionCommand,
     "\n  doorphonectl provision site.json --flash --log units.log\n  doorphonectl provision site.json --jobs 4 "
     "--count 30"},
    {"keys",
     "every KEY with its tab, kind and allowed values, in columns that fit the terminal (--json: its label too)",
     Reach::None, KeysCommand, "\n  doorphonectl keys\n  doorphonectl keys --json"},
};

// A file that must be there to be read. Not CLI11's ExistingFile: it asks std::filesystem, which on Windows
// takes a path for text in the ANSI code page, so a name such as "José" would never be found there.
CLI::Validator ExistingFile()
{
    return CLI::Validator(
        [](std::string& path) -> std::string {
            if (Missing(path)) {
                return "File does not exist: " + path;
            }
            if (NotARegularFile(path) == "it is a folder") {
                return "File is actually a directory: " + path;
            }
            return {};
        },
        "FILE");
}

// The options of each command, added to its subcommand.
void AddCommandOptions(CLI::App& sub, const std::string& name, CommandArgs& a)
{
    if (name == "list") {
        sub.add_flag("--json", a.json, "as a JSON array of {path, productId, accessible}");
    } else if (name == "show") {
        sub.add_flag("--json", a.json, "as a JSON document");
    } else if (name == "get") {
        sub.add_option("KEY", a.key, "the setting")->required();
        sub.add_flag("--json", a.json, "as a JSON object {key, value, position (a choice's)}");
    } else if (name == "set") {
        sub.add_option("KEY", a.key, "the setting")->required();
        sub.add_option("VALUE", a.value,
                       "a choice's entry text (any case) or its position (a number, or #N where the texts are "
                       "numbers); the text for a text setting (\"\" for empty)")
            ->required();
    } else if (name == "flash") {
        sub.add_flag("--yes", a.yes, "do not ask first (needed when not run from a terminal)");
        sub.add_option("--log", a.log, "append one line for the controller to the record FILE")->type_name("FILE");
    } else if (name == "provision") {
        sub.add_option("PROFILE", a.file, "the profile every controller gets")->required()->check(ExistingFile());
        sub.add_flag("--flash", a.flash, "install the carried firmware first on a controller that runs an older one");
        sub.add_flag("--once", a.once, "stop after one controller (as --count 1)");
        sub.add_option("--count", a.count,
                       "stop once N controllers have a result, present at the start or arriving later")
            ->type_name("N")
            ->check(CLI::Range(1, 100000));
        sub.add_option("--jobs", a.jobs, "work on at most N controllers at once (default: every one present)")
            ->type_name("N")
            ->check(CLI::Range(1, 1000));
        sub.add_flag("--json", a.json,
                     "each result as one JSON object on a line: {path, firmwareBefore, firmwareAfter, flashed, "
                     "written, result (ok, failed or interrupted), reason}");
        sub.add_option("--log", a.log, "append one line per controller to the record FILE")->type_name("FILE");
        sub.footer("With --simulate, the virtual controller's commands are read from standard input while it waits, "
                   "one per line: " DPC_CONTROLLER_COMMANDS);
    } else if (name == "export") {
        sub.add_option("FILE", a.file, "the profile to write, - for standard output")->required();
    } else if (name == "import") {
        sub.add_option("FILE", a.file, "the profile to read")->required()->check(ExistingFile());
        sub.add_flag("--dry-run", a.dryRun, "say what would change, send nothing");
    } else if (name == "keys") {
        sub.add_flag("--json", a.json,
                     "as a JSON array of {key, tab, label, kind, stationOnly, values (a choice's) or rule and "
                     "maxLength (a text's)}");
    }
}

// Standard output written to its end: false, having said why on standard error, when a write failed (a
// closed pipe, a full disk), so that the run never looks done while its output is lost.
bool OutputKept(CliIo& io)
{
    io.out.flush();
    if (io.out) {
        return true;
    }
    const std::string why = io.outSink && !io.outSink->Failure().empty() ? io.outSink->Failure() : "the write failed";
    io.err << "doorphonectl: cannot write to standard output: " << why << "; the output is incomplete\n";
    return false;
}

// The options that take a value, global or a command's: the word after one is its value, never a command.
bool TakesAValue(const std::string& a)
{
    return a == "--wire-log" || a == "--device" || a == "--log";
}

// Where the first word that is neither an option nor an option's value stands in `args`: the command (or
// "help"); args.size() when there is none.
std::size_t FirstWord(const std::vector<std::string>& args, std::size_t from = 1)
{
    for (std::size_t i = from; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (TakesAValue(a)) {
            ++i;  // its value
            continue;
        }
        if (!a.empty() && a.front() == '-' && a != "-") {
            continue;
        }
        return i;
    }
    return args.size();
}

std::vector<std::string> CommandNames()
{
    std::vector<std::string> names;
    for (const Command& c : kCommands) {
        names.push_back(c.name);
    }
    return names;
}

std::string Joined(const std::vector<std::string>& names)
{
    std::string all;
    for (const std::string& n : names) {
        all += (all.empty() ? "" : ", ") + n;
    }
    return all;
}

// The command word at `at`, when it names no command: says so on standard error, with the nearest
// commands, and returns true.
bool UnknownCommand(const std::vector<std::string>& args, std::size_t at, CliIo& io)
{
    if (at >= args.size()) {
        return false;
    }
    const std::string& a = args[at];
    std::vector<std::string> names = CommandNames();
    if (std::find(names.begin(), names.end(), a) != names.end()) {
        return false;
    }
    names.push_back("help");
    std::string message = "doorphonectl: unknown command \"" + a + "\"";
    const std::vector<std::string> near = NearestNames(a, names, 2);
    if (near.empty()) {
        names.pop_back();
        message += "; the commands are " + Joined(names) + " (see: doorphonectl --help)";
    } else {
        message += "; did you mean \"" + near[0] + (near.size() > 1 ? "\" or \"" + near[1] : "") + "\"?";
    }
    io.err << message << "\n";
    return true;
}

// Every name of an option of `app`, with its dashes ("--json", "-h").
std::vector<std::string> OptionNames(const CLI::App& app)
{
    std::vector<std::string> names;
    for (const CLI::Option* o : app.get_options()) {
        for (const std::string& n : o->get_lnames()) {
            names.push_back("--" + n);
        }
        for (const std::string& n : o->get_snames()) {
            names.push_back("-" + n);
        }
    }
    return names;
}

// The first option in `args` that neither the program nor `command` (null: none given) has: says so on
// standard error with the nearest names, and returns true.
bool UnknownOption(const std::vector<std::string>& args, const CLI::App& app, const CLI::App* command, CliIo& io)
{
    std::vector<std::string> known = OptionNames(app);
    if (command) {
        const std::vector<std::string> own = OptionNames(*command);
        known.insert(known.end(), own.begin(), own.end());
    }
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (TakesAValue(a)) {
            ++i;
            continue;
        }
        // An option: "--word" or "-letter"; "-" is standard output, "-5" a value.
        const bool option =
            a.size() > 1 && a.front() == '-' && (a[1] == '-' || std::isalpha(static_cast<unsigned char>(a[1])));
        if (!option) {
            continue;
        }
        const std::string name = a.substr(0, a.find('='));
        if (name == "--" || std::find(known.begin(), known.end(), name) != known.end()) {
            continue;
        }
        // Judged without the dashes, so that "-v" finds "--version" and "--y" finds "--yes".
        auto bare = [](const std::string& n) { return n.substr(n.find_first_not_of('-')); };
        std::vector<std::string> bareKnown;
        for (const std::string& k : known) {
            if (k.rfind("--", 0) == 0) {
                bareKnown.push_back(bare(k));
            }
        }
        std::string message = "doorphonectl: unknown option \"" + name + "\"";
        if (command) {
            message += " for " + command->get_name();
        }
        const std::string fewDashes = bare(name);
        std::vector<std::string> near;
        if (fewDashes.size() == 1) {  // "-v": a short option for a long one that starts with its letter
            for (const std::string& k : bareKnown) {
                if (k.front() == fewDashes.front() && near.size() < 2) {
                    near.push_back(k);
                }
            }
        } else if (!fewDashes.empty()) {
            near = NearestNames(fewDashes, bareKnown, 2);
        }
        const std::string helpOf = command ? "doorphonectl " + command->get_name() + " --help" : "doorphonectl --help";
        if (near.empty()) {
            message += " (see: " + helpOf + ")";
        } else {
            message += "; did you mean \"--" + near[0] + (near.size() > 1 ? "\" or \"--" + near[1] : "") + "\"?";
        }
        io.err << message << "\n";
        return true;
    }
    return false;
}

// What a bare "doorphonectl" says: how to call it, the commands, and where the help is; each line after
// "doorphonectl: ", as every line on standard error.
void ShortUsage(CliIo& io)
{
    const std::string prefix = "doorphonectl: ";
    const int width = TerminalColumns(io.errFd) - 1 - static_cast<int>(prefix.size());
    const std::string text = WrapText("usage: doorphonectl [OPTIONS] COMMAND [ARGUMENTS]", width, 0, 2) +
                             WrapText("commands: " + Joined(CommandNames()), width, 0, 2) +
                             WrapText("a command's options and examples: doorphonectl help COMMAND", width, 0, 2) +
                             WrapText("every option and the exit codes: doorphonectl --help", width, 0, 2);
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        io.err << prefix << line << "\n";
    }
}

// What the parser says: help and the version on standard output, fitted to the terminal's width; its
// errors on standard error, each line after "doorphonectl: ".
int ParserExit(const CLI::App& app, const CLI::ParseError& e, CliIo& io)
{
    std::ostringstream out, err;
    const int code = app.exit(e, out, err);
    io.out << FitHelp(out.str(), TerminalColumns(io.outFd));
    std::istringstream said(err.str());
    for (std::string line; std::getline(said, line);) {
        io.err << (line.rfind("doorphonectl:", 0) == 0 ? "" : "doorphonectl: ") << line << "\n";
    }
    return code == 0 ? kExitDone : kExitUsage;
}

int RunCommandLine(const std::vector<std::string>& argsIn, CliIo& io, const CliTestHooks* hooks)
{
    static const CliTestHooks kDefaultHooks;
    const CliTestHooks& h = hooks ? *hooks : kDefaultHooks;

    // "--simulate=STATE" carries an optional value, which the parser below takes as a plain flag.
    std::vector<std::string> args;
    std::string state;
    for (const std::string& a : argsIn) {
        if (a.rfind("--simulate=", 0) == 0) {
            state = a.substr(11);
            args.push_back("--simulate");
        } else {
            args.push_back(a);
        }
    }

    CLI::App app{"doorphonectl: read and change the settings of a Tavrel 7410 door-phone controller, keep them in "
                 "profiles, and install the firmware the tool carries. The same rules and reports as the window.",
                 "doorphonectl"};
    // On Windows CLI11 would take "/x" for an option; a path such as /tmp/profile.json (or a script written for
    // Linux) must reach its command as a path there too.
    app.allow_windows_style_options(false);
    // What ends a console program: on Linux its signals; on Windows, which sends none, the console's events.
    const bool windows = portable::kWindows;
    const std::string stopsOr =
        windows ? "Ctrl+C, Ctrl+Break or the console window closing" : "Ctrl+C, SIGTERM or SIGHUP";
    const std::string stopsAnd =
        windows ? "Ctrl+C, Ctrl+Break and the console window closing" : "Ctrl+C, SIGTERM and SIGHUP";
    const std::string underWay =
        windows ? "the transfer under way is cancelled (it may or may not have reached the controller)"
                : "the transfer under way finishes";
    bool simulate = false;
    std::string wireLog;
    app.add_flag("--simulate", simulate,
                 "use the built-in virtual controller; --simulate=STATE keeps the memory of the unit it starts with in "
                 "the file STATE between runs (made with the defaults when missing)");
    app.add_option("--wire-log", wireLog, "append one line per feature-report transfer to FILE")->type_name("FILE");
    std::string device;
    CLI::Option* deviceOption =
        app.add_option(
               "--device", device,
               "the controller at PATH, as list prints it; without it the first one found (set, restore-defaults, "
               "flash and import refuse when several are attached)")
            ->type_name("PATH");
    app.fallthrough();  // the global options may also follow the command
    app.set_version_flag("--version", std::string("doorphonectl ") + kToolVersion);
    app.require_subcommand(1);

    CommandArgs commandArgs;
    for (const Command& c : kCommands) {
        CLI::App& sub = *app.add_subcommand(c.name, c.help);
        AddCommandOptions(sub, c.name, commandArgs);
        std::string footer = sub.get_footer();  // a command's own notes first
        if (c.reach == Reach::Reads || c.reach == Reach::Changes || c.reach == Reach::Bench) {
            footer += std::string(footer.empty() ? "" : "\n") +
                      (c.reach == Reach::Bench ? "--device PATH (before or after the command): this controller only, "
                                                 "as list prints it."
                                               : "--device PATH (before or after the command): the controller at PATH, "
                                                 "as list prints it.") +
                      " --simulate: the virtual controller. Exit codes: doorphonectl --help.";
        }
        sub.footer(footer + (footer.empty() ? "" : "\n") + "Examples:" + c.examples);
    }
    // The exit codes once, in the program's own help: set after the commands, which would otherwise copy it.
    app.footer("Exit codes: 0 done; 1 the controller is absent, refuses a transfer, or did not take a value; a "
               "change stopped by " +
               stopsOr +
               "; standard output, the record or the wire log could not be "
               "written (provision: any controller failed or was interrupted, or --count or --once ended before enough "
               "were done); "
               "2 a usage or entry error, or several controllers attached and no --device for a command that changes "
               "one.\nSet, import, restore-defaults, flash and provision take " +
               stopsAnd + " as a stop: " + underWay +
               ", nothing more is sent, and the message says what state the controller is in.\nKEYs are "
               "listed by 'doorphonectl keys'; a setting's label is accepted too, in any case.");

    // A mistyped option first: the word after it may be its value, not a command.
    const CLI::App* named = nullptr;  // the command named anywhere, for its options
    for (std::size_t i = 1; i < args.size() && named == nullptr; ++i) {
        const std::vector<std::string> names = CommandNames();
        if (std::find(names.begin(), names.end(), args[i]) != names.end()) {
            named = app.get_subcommand(args[i]);
        }
    }
    if (FirstWord(args) >= args.size() || args[FirstWord(args)] != "help") {
        if (UnknownOption(args, app, named, io)) {
            if (!named) {
                ShortUsage(io);
            }
            return kExitUsage;
        }
    }

    // "help" and "help COMMAND" are --help and "COMMAND --help".
    std::size_t word = FirstWord(args);
    if (word < args.size() && args[word] == "help") {
        const std::size_t topic = FirstWord(args, word + 1);
        if (topic < args.size() && UnknownCommand(args, topic, io)) {
            return kExitUsage;
        }
        args = topic < args.size() ? std::vector<std::string>{args[0], args[topic], "--help"}
                                   : std::vector<std::string>{args[0], "--help"};
        word = FirstWord(args);
    }
    if (UnknownCommand(args, word, io)) {
        return kExitUsage;
    }
    const CLI::App* chosen = word < args.size() ? app.get_subcommand(args[word]) : nullptr;
    if (UnknownOption(args, app, chosen, io)) {
        if (!chosen) {
            ShortUsage(io);
        }
        return kExitUsage;
    }
    const bool asksHelpOrVersion = std::any_of(args.begin() + 1, args.end(), [](const std::string& a) {
        return a == "--help" || a == "-h" || a == "--version";
    });
    if (!chosen && !asksHelpOrVersion) {
        io.err << "doorphonectl: a command is required\n";
        ShortUsage(io);
        return kExitUsage;
    }
    std::vector<const char*> argv;
    for (const std::string& a : args) {
        argv.push_back(a.c_str());
    }
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::ParseError& e) {
        return ParserExit(app, e, io);
    }

    if (deviceOption->count() > 0 && device.empty()) {
        io.err << "doorphonectl: --device needs the PATH of a controller, as doorphonectl list prints it\n";
        return kExitUsage;  // never the first controller found in place of the one meant
    }

    const std::string name = app.get_subcommands().front()->get_name();
    const Command* command =
        std::find_if(std::begin(kCommands), std::end(kCommands), [&](const Command& c) { return name == c.name; });
    CliRun run(io, h);
    if (command->reach != Reach::None && !run.Open(simulate, state, wireLog)) {
        return kExitUsage;
    }
    run.UseDevice(CanonicalDevicePath(device));  // as the platform spells it
    if (command->reach == Reach::Changes || command->reach == Reach::Bench) {
        run.ChangeAs("doorphonectl " + name);
    }
    if ((command->reach == Reach::Reads || command->reach == Reach::Changes) &&
        !run.ChooseAmong(command->reach == Reach::Changes)) {
        return kExitUsage;
    }
    const int code = command->run(run, commandArgs);
    const bool saved = run.Finish();
    const bool logged = run.WireLogKept();
    if ((!saved || !logged) && code == kExitDone) {
        return kExitDevice;  // the run did its work, but its result is lost: never a failure that looks like success
    }
    return code;
}

}  // namespace

int DoorphonectlMain(const std::vector<std::string>& args, CliIo& io, const CliTestHooks* hooks)
{
    const int code = RunCommandLine(args, io, hooks);
    if (!OutputKept(io) && code == kExitDone) {
        return kExitDevice;
    }
    return code;
}

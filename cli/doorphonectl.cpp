#include "cli/doorphonectl.h"

#include "cli/profile.h"
#include "cli/session.h"
#include "device/device_link.h"
#include "device/firmware_stream.h"
#include "device/hidapi_platform.h"
#include "device/udev_monitor.h"
#include "device/wire_log.h"
#include "settings/catalogue.h"
#include "sim/state_file.h"
#include "sim/virtual_controller.h"
#include "resources/strings.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>
#include <poll.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <thread>

namespace {

// Everything one run needs: where the controller is, how to watch it come and go, and where to speak.
class Run {
public:
    Run(CliIo& io, const CliTestHooks& hooks) : io_(io), hooks_(hooks) {}
    ~Run() { Finish(); }

    // Chooses the real controller or the virtual one (its memory loaded from `state` when given).
    bool Open(bool simulate, const std::string& state, const std::string& wireLog)
    {
        if (simulate) {
            controller_ = hooks_.controller;
            if (controller_ == nullptr) {
                owned_ = std::make_unique<sim::VirtualController>();
                controller_ = owned_.get();
            }
            if (!state.empty()) {
                std::string error;
                std::optional<sim::Memory> memory = sim::LoadState(state, error);
                if (!memory) {
                    return Fail(kExitUsage, "cannot use the state file " + state + ": " + error), false;
                }
                controller_->SetMemory(*memory);
                statePath_ = state;
            }
            platform_ = controller_;
        } else {
            hidapi_ = std::make_unique<HidapiPlatform>();
            platform_ = hidapi_.get();
        }
        link_ = std::make_unique<DeviceLink>(*platform_);
        if (!wireLog.empty()) {
            std::string error;
            std::shared_ptr<WireLog> log = WireLog::Open(wireLog, error);
            if (!log) {
                return Fail(kExitUsage, "cannot open the wire log " + wireLog + ": " + error), false;
            }
            link_->SetWireLog(log);
        }
        return true;
    }

    // Keeps the virtual controller's memory for the next run.
    void Finish()
    {
        if (!statePath_.empty() && controller_) {
            std::string error;
            if (!sim::SaveState(statePath_, controller_->GetMemory(), error)) {
                io_.err << "doorphonectl: cannot save the state file " << statePath_ << ": " << error << "\n";
            }
            statePath_.clear();
        }
    }

    int Fail(int code, const std::string& message)
    {
        io_.err << "doorphonectl: " << message << "\n";
        return code;
    }

    // Finds the controller and sees that it answers, as the window does at start.
    bool Connect()
    {
        if (link_->FindDevice() && link_->GetShortReport(report::kStatusId)) {
            return true;
        }
        if (const std::string denied = link_->InaccessiblePath(); !denied.empty()) {
            Fail(kExitDevice, controller::AccessAdvice(denied));
            return false;
        }
        if (link_->HasDevice()) {
            Fail(kExitDevice, "the controller at " + link_->DevicePath() +
                                  " does not answer the status read: " + DeviceLink::LastError());
            return false;
        }
        std::string hint = "is it plugged in?";
        Fail(kExitDevice, "no controller found (" + hint + ")");
        return false;
    }

    bool Read(Snapshot& snapshot)
    {
        if (ReadSnapshot(*link_, snapshot)) {
            return true;
        }
        Fail(kExitDevice, "the controller did not answer the settings read: " + DeviceLink::LastError());
        return false;
    }

    int List(bool json);
    int Show(bool json);
    int Get(const std::string& key, bool json);
    int Set(const std::string& key, const std::string& value);
    int RestoreDefaults();
    int Flash(bool yes);
    int Export(const std::string& file);
    int Import(const std::string& file, bool dryRun);
    int Keys(bool json);

private:
    bool WaitFor(HotplugMonitor& monitor, HotplugAction action, bool present, std::chrono::milliseconds limit);
    void Progress(int percent);

    CliIo& io_;
    const CliTestHooks& hooks_;
    std::unique_ptr<sim::VirtualController> owned_;
    sim::VirtualController* controller_ = nullptr;
    std::unique_ptr<HidapiPlatform> hidapi_;
    HidPlatform* platform_ = nullptr;
    std::unique_ptr<DeviceLink> link_;
    std::string statePath_;
};

std::string Unknown(const std::string& key)
{
    return "unknown setting \"" + key + "\" (see: doorphonectl keys)";
}

// The message for the rule between Disconnect Type and Loop Disconnect (see the catalogue).
const char* const kLoopRule = "Loop Disconnect can be set only while Disconnect Type is \"Loop Current\"";

int Run::List(bool json)
{
    nlohmann::json items = nlohmann::json::array();
    for (const HidDeviceInfo& info : platform_->Enumerate(controller::kVendorId)) {
        if (!controller::IsControllerProduct(info.productId)) {
            continue;
        }
        char product[8];
        std::snprintf(product, sizeof product, "0x%04x", info.productId);
        if (json) {
            items.push_back({{"path", info.path}, {"productId", product}, {"accessible", info.accessible}});
            continue;
        }
        io_.out << info.path << "\t" << product << "\t"
                << (info.accessible ? "accessible" : "no access (this user may not open it)") << "\n";
    }
    if (json) {
        io_.out << items.dump(2) << "\n";
    }
    return kExitDone;
}

int Run::Show(bool json)
{
    Snapshot s;
    if (!Connect() || !Read(s)) {
        return kExitDevice;
    }
    if (json) {
        nlohmann::json settings = nlohmann::json::object();
        for (const CatalogueEntry& e : ParameterCatalogue()) {
            if (e.kind == EntryKind::Status) {
                continue;
            }
            nlohmann::json item = {{"tab", kTabNames[static_cast<std::size_t>(e.tab)]},
                                   {"label", e.label},
                                   {"value", s.ValueText(e)}};
            if (e.kind == EntryKind::Choice) {
                item["position"] = s.Byte(e);
            }
            if (e.stationOnly) {
                item["stationOnly"] = true;
            }
            settings[e.key] = item;
        }
        const StationInfo station = s.Station();
        nlohmann::json doc = {
            {"device", link_->DevicePath()},
            {"firmware", {{"detected", FormatFirmwareVersion(s.Firmware())}, {"available", FirmwareImageVersion()}}},
            {"station", {{"model", station.model == 0 ? nlohmann::json() : nlohmann::json(7400 + station.model)},
                         {"version", station.version},
                         {"text", s.ValueText(*FindEntryByControlId(2002))}}},
            {"lineLevel", s.LevelPercent()},
            {"settings", settings},
        };
        io_.out << doc.dump(2) << "\n";
        return kExitDone;
    }
    const std::string detected = FormatFirmwareVersion(s.Firmware());
    io_.out << "Controller   " << link_->DevicePath() << "\n";
    io_.out << "Firmware     " << detected << "  (the tool carries " << FirmwareImageVersion()
            << (detected == FirmwareImageVersion() ? ", the same)" : ")") << "\n";
    io_.out << "Station      " << s.ValueText(*FindEntryByControlId(2002)) << "\n";
    io_.out << "Line level   " << s.LevelPercent() << " %\n";
    const bool keypad = s.Station().model == kKeypadStationModel;
    for (int tab = 0; tab < kTabCount; ++tab) {
        io_.out << "\n" << kTabNames[static_cast<std::size_t>(tab)] << "\n";
        for (const CatalogueEntry* e : EntriesOfTab(tab)) {
            if (e->kind == EntryKind::Status) {
                continue;
            }
            char line[160];
            std::snprintf(line, sizeof line, "  %-34s %-32s %s%s\n", e->key, e->label, s.ValueText(*e).c_str(),
                          e->stationOnly && !keypad ? "   (shown for a 7407 station only)" : "");
            io_.out << line;
        }
    }
    return kExitDone;
}

int Run::Get(const std::string& key, bool json)
{
    const CatalogueEntry* entry = ResolveKey(key);
    if (entry == nullptr) {
        return Fail(kExitUsage, Unknown(key));
    }
    Snapshot s;
    if (!Connect() || !Read(s)) {
        return kExitDevice;
    }
    if (json) {
        nlohmann::json item = {{"key", entry->key}, {"value", s.ValueText(*entry)}};
        if (entry->kind == EntryKind::Choice) {
            item["position"] = s.Byte(*entry);
        }
        io_.out << item.dump(2) << "\n";
        return kExitDone;
    }
    io_.out << s.ValueText(*entry);
    if (entry->kind == EntryKind::Choice) {
        io_.out << "\t" << s.Byte(*entry);
    }
    io_.out << "\n";
    return kExitDone;
}

int Run::Set(const std::string& key, const std::string& text)
{
    const CatalogueEntry* entry = ResolveKey(key);
    if (entry == nullptr) {
        return Fail(kExitUsage, Unknown(key));
    }
    SettingValue value;
    if (auto error = ParseSettingValue(*entry, text, true, value)) {
        return Fail(kExitUsage, *error);
    }
    Snapshot s;
    if (!Connect() || !Read(s)) {
        return kExitDevice;
    }
    if (entry->controlId == kLoopDisconnectControlId && s.Byte(*FindEntryByControlId(kDisconnectTypeControlId)) != 0) {
        return Fail(kExitUsage, kLoopRule);
    }
    if (!WriteSetting(*link_, value)) {
        return Fail(kExitDevice, std::string("the controller refused the report for ") + entry->key + ": " +
                                     DeviceLink::LastError());
    }
    if (!Read(s)) {
        return kExitDevice;
    }
    if (!Holds(s, value)) {
        return Fail(kExitDevice, std::string("the controller did not take the value of ") + entry->key + ": it holds \"" +
                                     s.ValueText(*entry) + "\"");
    }
    return kExitDone;
}

int Run::RestoreDefaults()
{
    if (!Connect()) {
        return kExitDevice;
    }
    if (!link_->SendRestoreDefaults()) {
        return Fail(kExitDevice, "the controller refused the restore-defaults report: " + DeviceLink::LastError());
    }
    return kExitDone;
}

void Run::Progress(int percent)
{
    constexpr int kWidth = 40;
    const int filled = percent * kWidth / 100;
    io_.err << "\rInstalling firmware " << FirmwareImageVersion() << " [" << std::string(filled, '#')
            << std::string(kWidth - filled, '.') << "] " << percent << " %" << std::flush;
}

bool Run::WaitFor(HotplugMonitor& monitor, HotplugAction action, bool present, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        for (const HotplugEvent& event : monitor.ReadEvents()) {
            if (event.action == action && event.devicePath.size() >= 5 && link_->FindDevice() == present) {
                return true;
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd p{monitor.Fd(), POLLIN, 0};
        poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
    }
}

int Run::Flash(bool yes)
{
    if (!yes) {
        if (!io_.inIsTerminal) {
            return Fail(kExitUsage, "flash asks before it installs; give --yes when not run from a terminal");
        }
        io_.err << kInstallQuestion << " [y/N] " << std::flush;
        std::string answer;
        std::getline(io_.in, answer);
        if (answer != "y" && answer != "Y" && answer != "yes" && answer != "YES" && answer != "Yes") {
            io_.err << "Nothing installed.\n";
            return kExitDone;
        }
    }
    if (!Connect()) {
        return kExitDevice;
    }
    // Watch from before the first chunk, so the controller's leaving is never missed.
    std::unique_ptr<HotplugMonitor> monitor =
        controller_ ? controller_->CreateMonitor() : std::unique_ptr<HotplugMonitor>(UdevHotplugMonitor::Create());

    std::string chunkError;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> trace(std::fopen("/dev/null", "w"), &std::fclose);
    FirmwareStream stream(*link_, [&chunkError](const std::string& text) { chunkError = text; }, trace.get());
    stream.SendBootReport();
    int shown = -1;
    const bool ok = stream.StreamFirmwareImage([&](uint32_t consumed, uint32_t total) {
        const int percent = static_cast<int>(static_cast<uint64_t>(consumed) * 100 / total);
        if (percent != shown && io_.errIsTerminal) {
            shown = percent;
            Progress(percent);
        }
    });
    if (io_.errIsTerminal) {
        if (ok) {
            Progress(100);
        }
        io_.err << "\n";
    }
    if (!ok) {
        return Fail(kExitDevice, "programming failed: " + (chunkError.empty() ? std::string("the image could not be sent")
                                                                                : chunkError) +
                                     "; once the controller is back, restore its defaults: doorphonectl restore-defaults");
    }
    io_.err << "Programming complete; waiting for the controller to restart.\n";
    if (!monitor) {
        return Fail(kExitDevice, "cannot watch for the controller's restart; once it is back, run: doorphonectl "
                                 "restore-defaults");
    }
    if (!WaitFor(*monitor, HotplugAction::Remove, false, hooks_.leaveTimeout)) {
        return Fail(kExitDevice, "the controller did not disconnect within " +
                                     std::to_string(hooks_.leaveTimeout.count() / 1000) + " s after programming");
    }
    if (!WaitFor(*monitor, HotplugAction::Add, true, hooks_.returnTimeout)) {
        return Fail(kExitDevice, "the controller did not come back within " +
                                     std::to_string(hooks_.returnTimeout.count() / 1000) +
                                     " s; once it is back, run: doorphonectl restore-defaults");
    }
    std::this_thread::sleep_for(hooks_.settle);
    // As the window does on the controller's return: read it, then restore the defaults once.
    Snapshot s;
    ReadSnapshot(*link_, s);
    if (!link_->SendRestoreDefaults()) {
        return Fail(kExitDevice, "the controller came back but refused the restore-defaults report");
    }
    if (!Read(s)) {
        return kExitDevice;
    }
    const std::string now = FormatFirmwareVersion(s.Firmware());
    if (now != FirmwareImageVersion()) {
        return Fail(kExitDevice, "the controller runs firmware " + now + ", not the carried " + FirmwareImageVersion());
    }
    io_.out << "Firmware " << now << " installed; defaults restored.\n";
    return kExitDone;
}

int Run::Export(const std::string& file)
{
    Snapshot s;
    if (!Connect() || !Read(s)) {
        return kExitDevice;
    }
    const std::string text = MakeProfile(s).dump(2) + "\n";
    if (file == "-") {
        io_.out << text;
        return kExitDone;
    }
    std::ofstream out(file, std::ios::trunc);
    if (!(out << text) || !out.flush()) {
        return Fail(kExitUsage, "cannot write " + file);
    }
    return kExitDone;
}

int Run::Import(const std::string& file, bool dryRun)
{
    nlohmann::json profile;
    {
        std::ifstream in(file);
        if (!in) {
            return Fail(kExitUsage, "cannot read " + file);
        }
        try {
            profile = nlohmann::json::parse(in);
        } catch (const nlohmann::json::exception& e) {
            return Fail(kExitUsage, file + " is not JSON: " + e.what());
        }
    }
    ProfileContents contents = ReadProfile(profile);
    for (const std::string& error : contents.errors) {
        Fail(kExitUsage, file + ": " + error);
    }
    if (!contents.errors.empty()) {
        return kExitUsage;
    }
    Snapshot s;
    if (!Connect() || !Read(s)) {
        return kExitDevice;
    }
    std::vector<SettingValue> changes;
    for (const SettingValue& v : contents.values) {
        if (!Holds(s, v)) {
            changes.push_back(v);
        }
    }
    // Loop Disconnect changes only while Disconnect Type is Loop Current: write it while that holds.
    auto find = [&](int id) {
        return std::find_if(changes.begin(), changes.end(), [id](const SettingValue& v) { return v.entry->controlId == id; });
    };
    auto loop = find(kLoopDisconnectControlId);
    if (loop != changes.end()) {
        const bool typeNowLoop = s.Byte(*FindEntryByControlId(kDisconnectTypeControlId)) == 0;
        auto type = find(kDisconnectTypeControlId);
        const bool typeBecomesLoop = type != changes.end() && type->position == 0;
        if (typeNowLoop && type != changes.end()) {
            std::iter_swap(loop, type);  // Loop Disconnect first, while the type still allows it
        } else if (!typeNowLoop && !typeBecomesLoop) {
            return Fail(kExitUsage, file + ": " + kLoopRule);
        }
    }
    if (changes.empty()) {
        io_.out << "Nothing to change: the controller already holds the profile.\n";
        return kExitDone;
    }
    for (const SettingValue& v : changes) {
        io_.out << (dryRun ? "would set " : "set ") << v.entry->key << ": \"" << s.ValueText(*v.entry) << "\" -> \""
                << (v.entry->kind == EntryKind::Choice ? v.entry->list->Entry(v.position) : v.text) << "\"\n";
        if (!dryRun && !WriteSetting(*link_, v)) {
            return Fail(kExitDevice, std::string("the controller refused the report for ") + v.entry->key + ": " +
                                         DeviceLink::LastError());
        }
    }
    if (dryRun) {
        return kExitDone;
    }
    Snapshot after;
    if (!Read(after)) {
        return kExitDevice;
    }
    int missed = 0;
    for (const SettingValue& v : contents.values) {
        if (!Holds(after, v)) {
            Fail(kExitDevice, std::string(v.entry->key) + " did not take: the controller holds \"" +
                                  after.ValueText(*v.entry) + "\"");
            ++missed;
        }
    }
    return missed ? kExitDevice : kExitDone;
}

std::string Describe(const CatalogueEntry& e)
{
    switch (e.kind) {
    case EntryKind::Status:
        return "read-only";
    case EntryKind::Choice: {
        std::string values;
        for (int i = 0; i < e.list->Size(); ++i) {
            values += (i ? "; " : "") + std::to_string(i) + "=" + e.list->Entry(i);
        }
        return values;
    }
    case EntryKind::Text:
        switch (e.rule) {
        case TextRule::TelephonePad:
            return "telephone-pad characters (0-9, #, *), at most " + std::to_string(e.maxLength);
        default:
            return "digits 0-9, at most " + std::to_string(e.maxLength) + (e.rule == TextRule::Number ? ", may be empty" : "");
        }
    }
    return {};
}

// A text setting's entry rule by name, as keys --json gives it.
const char* RuleName(TextRule rule)
{
    switch (rule) {
    case TextRule::TelephonePad:
        return "telephone-pad";
    case TextRule::Number:
        return "number";
    default:
        return "digits";
    }
}

int Run::Keys(bool json)
{
    nlohmann::json items = nlohmann::json::array();
    for (const CatalogueEntry& e : ParameterCatalogue()) {
        const char* kind = e.kind == EntryKind::Status ? "status" : e.kind == EntryKind::Choice ? "choice" : "text";
        if (json) {
            nlohmann::json item = {{"key", e.key},
                                   {"tab", kTabNames[static_cast<std::size_t>(e.tab)]},
                                   {"label", e.label},
                                   {"kind", kind},
                                   {"stationOnly", e.stationOnly}};
            if (e.kind == EntryKind::Choice) {
                nlohmann::json values = nlohmann::json::array();
                for (int i = 0; i < e.list->Size(); ++i) {
                    values.push_back(e.list->Entry(i));
                }
                item["values"] = values;
            } else if (e.kind == EntryKind::Text) {
                item["rule"] = RuleName(e.rule);
                item["maxLength"] = e.maxLength;
            }
            items.push_back(item);
            continue;
        }
        io_.out << e.key << "\t" << kTabNames[static_cast<std::size_t>(e.tab)] << "\t" << e.label << "\t" << kind
                << (e.stationOnly ? " (7407 station)" : "") << "\t" << Describe(e) << "\n";
    }
    if (json) {
        io_.out << items.dump(2) << "\n";
    }
    return kExitDone;
}

}  // namespace

int DoorphonectlMain(const std::vector<std::string>& argsIn, CliIo& io, const CliTestHooks* hooks)
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
    app.footer("Exit codes: 0 done; 1 the controller is absent, refuses a transfer, or did not take a value; "
               "2 a usage or entry error.\nKEYs are listed by 'doorphonectl keys'; a setting's label is accepted too, "
               "in any case.");
    bool simulate = false;
    std::string wireLog;
    app.add_flag("--simulate", simulate,
                 "use the built-in virtual controller; --simulate=STATE keeps its memory in the file STATE between "
                 "runs (made with the defaults when missing)");
    app.add_option("--wire-log", wireLog, "append one line per feature-report transfer to FILE")->type_name("FILE");
    app.set_version_flag("--version", std::string("doorphonectl ") + kToolVersion);
    app.require_subcommand(1);

    bool json = false;
    CLI::App* list = app.add_subcommand("list", "controllers present: path, product id, and whether this user may open it");
    list->add_flag("--json", json, "as a JSON array of {path, productId, accessible}");
    CLI::App* show = app.add_subcommand("show", "firmware detected and available, station, line level, every setting");
    show->add_flag("--json", json, "as a JSON document");
    CLI::App* get = app.add_subcommand("get", "one setting: its value text, and for a choice a tab character and its list position");
    std::string key;
    get->add_option("KEY", key, "the setting")->required();
    get->add_flag("--json", json, "as a JSON object {key, value, position (a choice's)}");
    CLI::App* set = app.add_subcommand(
        "set", "change one setting; checked by the window's entry rules and messages, then read back");
    std::string value;
    set->add_option("KEY", key, "the setting")->required();
    set->add_option("VALUE", value,
                    "a choice's entry text (any case) or its position (a number, or #N where the texts are numbers); "
                    "the text for a text setting (\"\" for empty)")
        ->required();
    app.add_subcommand("restore-defaults", "return every setting of the controller to its default");
    CLI::App* flash = app.add_subcommand(
        "flash", "install the carried firmware, wait for the controller's restart, restore its defaults as the "
                 "window does, and check the version it now runs");
    bool yes = false;
    flash->add_flag("--yes", yes, "do not ask first (needed when not run from a terminal)");
    CLI::App* exportCmd = app.add_subcommand("export", "write every setting, station-only ones included, as a JSON profile");
    std::string file;
    exportCmd->add_option("FILE", file, "the profile to write, - for standard output")->required();
    CLI::App* importCmd = app.add_subcommand(
        "import", "check a whole profile first (nothing is sent when any of it is wrong), write only the settings "
                  "that differ, then read back and report any that did not take");
    bool dryRun = false;
    importCmd->add_option("FILE", file, "the profile to read")->required()->check(CLI::ExistingFile);
    importCmd->add_flag("--dry-run", dryRun, "say what would change, send nothing");
    CLI::App* keys = app.add_subcommand("keys", "every KEY with its tab, label, kind and allowed values");
    keys->add_flag("--json", json,
                   "as a JSON array of {key, tab, label, kind, stationOnly, values (a choice's) or rule and "
                   "maxLength (a text's)}");

    std::vector<const char*> argv;
    for (const std::string& a : args) {
        argv.push_back(a.c_str());
    }
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e, io.out, io.err);
        return code == 0 ? kExitDone : kExitUsage;
    }

    CLI::App* command = app.get_subcommands().front();
    const std::string name = command->get_name();
    Run run(io, h);
    if (name == "keys") {
        return run.Keys(json);  // needs no controller
    }
    if (!run.Open(simulate, state, wireLog)) {
        return kExitUsage;
    }
    if (name == "list") {
        return run.List(json);
    }
    if (name == "show") {
        return run.Show(json);
    }
    if (name == "get") {
        return run.Get(key, json);
    }
    if (name == "set") {
        return run.Set(key, value);
    }
    if (name == "restore-defaults") {
        return run.RestoreDefaults();
    }
    if (name == "flash") {
        return run.Flash(yes);
    }
    if (name == "export") {
        return run.Export(file);
    }
    return run.Import(file, dryRun);
}

// The commands that only read: list, show, get, keys and export.
#include "cli/commands.h"
#include "cli/profile.h"
#include "cli/terminal_text.h"
#include "device/carried_firmware.h"
#include "portable/file_io.h"
#include "portable/process_io.h"
#include "settings/catalogue.h"
#include "settings/setting_value.h"
#include "settings/text_encoding.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>

namespace {

const CatalogueEntry& StationEntry()
{
    return *FindEntryByKey("maintenance.station-type");
}

// A setting's allowed values, as keys prints them.
std::string Describe(const CatalogueEntry& e)
{
    switch (e.kind) {
    case EntryKind::Status:
        return "read-only";
    case EntryKind::Choice: {
        if (EntriesAreNumbers(*e.list)) {  // a plain number is the text here; #N the position
            const int last = e.list->Size() - 1;
            return e.list->Entry(0) + " to " + e.list->Entry(last) + " (positions #0 to #" + std::to_string(last) + ")";
        }
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
            return "digits 0-9, at most " + std::to_string(e.maxLength) +
                   (e.rule == TextRule::Number ? ", may be empty" : "");
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

const char* KindName(EntryKind kind)
{
    return kind == EntryKind::Status ? "status" : kind == EntryKind::Choice ? "choice" : "text";
}

std::string Padded(std::string text, std::size_t width)
{
    text.resize(std::max(text.size(), width), ' ');
    return text;
}

// keys for a person: key, tab and kind in aligned columns, then the allowed values wrapped under their own
// column; on a terminal too narrow for that, the values under each key's line. (The labels: keys --json.)
void PrintKeys(std::ostream& out, int width)
{
    constexpr std::size_t kGap = 2;
    constexpr std::size_t kNarrowestValues = 16;
    std::size_t keyWidth = 0, tabWidth = 0, kindWidth = 0;
    for (const CatalogueEntry& e : ParameterCatalogue()) {
        keyWidth = std::max(keyWidth, std::string_view(e.key).size());
        tabWidth = std::max(tabWidth, std::string_view(kTabNames[static_cast<std::size_t>(e.tab)]).size());
        kindWidth = std::max(kindWidth, std::string_view(KindName(e.kind)).size());
    }
    const std::size_t valuesColumn = keyWidth + tabWidth + kindWidth + 3 * kGap;
    const bool oneRow = valuesColumn + kNarrowestValues <= static_cast<std::size_t>(width);
    for (const CatalogueEntry& e : ParameterCatalogue()) {
        const std::string values = (e.stationOnly ? "7407 station only; " : "") + Describe(e);
        const std::string tab = kTabNames[static_cast<std::size_t>(e.tab)];
        if (oneRow) {
            const std::string start = Padded(e.key, keyWidth + kGap) + Padded(tab, tabWidth + kGap) +
                                      Padded(KindName(e.kind), kindWidth + kGap);
            const int column = static_cast<int>(valuesColumn);
            out << start << WrapText(values, width, column, column).substr(valuesColumn);
            continue;
        }
        const std::string where = tab + ", " + KindName(e.kind);
        if (std::string_view(e.key).size() + kGap + where.size() <= static_cast<std::size_t>(width)) {
            out << e.key << std::string(kGap, ' ') << where << "\n";
        } else {
            out << e.key << "\n" << WrapText(where, width, 4, 4);  // the tab and kind on a line of their own
        }
        out << WrapText(values, width, 4, 4);
    }
}

}  // namespace

int ListCommand(CliRun& run, const CommandArgs& args)
{
    nlohmann::json items = nlohmann::json::array();
    bool found = false;
    // One line per controller, as the other commands count them: its further interfaces are not more units.
    for (const HidDeviceInfo& info : run.Session().Controllers()) {
        found = true;
        char product[8];
        std::snprintf(product, sizeof product, "0x%04x", info.productId);
        if (args.json) {
            items.push_back({{"path", info.path}, {"productId", product}, {"accessible", info.accessible}});
            continue;
        }
        run.io.out << info.path << "\t" << product << "\t"
                   << (info.accessible ? "accessible" : "no access (this user may not open it)") << "\n";
    }
    if (args.json) {
        run.io.out << items.dump(2) << "\n";
    }
    if (!found) {
        run.io.err << "doorphonectl: no controller found\n";
    }
    return kExitDone;
}

int ShowCommand(CliRun& run, const CommandArgs& args)
{
    SettingsSnapshot s;
    if (!run.Connect() || !run.Read(s)) {
        return kExitDevice;
    }
    if (args.json) {
        nlohmann::json settings = nlohmann::json::object();
        for (const CatalogueEntry& e : ParameterCatalogue()) {
            if (e.kind == EntryKind::Status) {
                continue;
            }
            nlohmann::json item = {{"tab", kTabNames[static_cast<std::size_t>(e.tab)]},
                                   {"label", e.label},
                                   {"value", Latin1ToUtf8(s.ValueText(e))},
                                   {"position", nullptr},  // a choice's; null for a text
                                   {"stationOnly", e.stationOnly}};
            if (e.kind == EntryKind::Choice) {
                item["position"] = s.Byte(e);
            }
            settings[e.key] = item;
        }
        const StationInfo station = s.Station();
        nlohmann::json doc = {
            {"device", run.Session().DevicePath()},
            {"firmware", {{"detected", FormatFirmwareVersion(s.Firmware())}, {"available", FirmwareImageVersion()}}},
            {"station",
             {{"model", station.model == 0 ? nlohmann::json() : nlohmann::json(7400 + station.model)},
              {"version", station.version},
              {"text", s.ValueText(StationEntry())}}},
            {"lineLevel", s.LevelPercent()},
            {"settings", settings},
        };
        run.io.out << doc.dump(2) << "\n";
        return kExitDone;
    }
    // Into a pipe or a file the columns stay as scripts know them; at a terminal each line fits its width.
    const bool narrow = run.io.outIsTerminal;
    const int width = TerminalColumns(run.io.outFd);
    const std::string detected = FormatFirmwareVersion(s.Firmware());
    run.io.out << "Controller   " << run.Session().DevicePath() << "\n";
    run.io.out << "Firmware     " << detected << "  (the tool carries " << FirmwareImageVersion()
               << (detected == FirmwareImageVersion() ? ", the same)" : ")") << "\n";
    run.io.out << "Station      " << s.ValueText(StationEntry()) << "\n";
    run.io.out << "Line level   " << s.LevelPercent() << " %\n";
    for (int tab = 0; tab < kTabCount; ++tab) {
        run.io.out << "\n" << kTabNames[static_cast<std::size_t>(tab)] << "\n";
        for (const CatalogueEntry* e : EntriesOfTab(tab)) {
            if (e->kind == EntryKind::Status) {
                continue;
            }
            const std::string value = Printable(s.ValueText(*e));
            const char* note = e->stationOnly && !s.KeypadStation() ? "   (shown for a 7407 station only)" : "";
            char line[160];
            std::snprintf(line, sizeof line, "  %-34s %-32s %s%s", e->key, e->label, value.c_str(), note);
            // At a terminal too narrow for the columns: the key on its line, the label and value under it.
            if (narrow && static_cast<int>(std::string_view(line).size()) > width) {
                run.io.out << "  " << e->key << "\n"
                           << WrapText(std::string(e->label) + ": " + value + note, width, 6, 8);
                continue;
            }
            run.io.out << line << "\n";
        }
    }
    return kExitDone;
}

int GetCommand(CliRun& run, const CommandArgs& args)
{
    const CatalogueEntry* entry = FindEntryByKeyOrLabel(args.key);
    if (entry == nullptr) {
        return run.Fail(kExitUsage, UnknownSetting(args.key));
    }
    SettingsSnapshot s;
    if (!run.Connect() || !run.Read(s)) {
        return kExitDevice;
    }
    if (args.json) {
        nlohmann::json item = {
            {"key", entry->key}, {"value", Latin1ToUtf8(s.ValueText(*entry))}, {"position", nullptr}};
        if (entry->kind == EntryKind::Choice) {
            item["position"] = s.Byte(*entry);
        }
        run.io.out << item.dump(2) << "\n";
        return kExitDone;
    }
    run.io.out << Printable(s.ValueText(*entry));
    if (entry->kind == EntryKind::Choice) {
        run.io.out << "\t" << s.Byte(*entry);
    }
    run.io.out << "\n";
    return kExitDone;
}

int KeysCommand(CliRun& run, const CommandArgs& args)
{
    if (!args.json) {
        PrintKeys(run.io.out, TerminalColumns(run.io.outFd));
        return kExitDone;
    }
    nlohmann::json items = nlohmann::json::array();
    for (const CatalogueEntry& e : ParameterCatalogue()) {
        nlohmann::json item = {{"key", e.key},
                               {"tab", kTabNames[static_cast<std::size_t>(e.tab)]},
                               {"label", e.label},
                               {"kind", KindName(e.kind)},
                               {"stationOnly", e.stationOnly},
                               {"values", nullptr},
                               {"rule", nullptr},
                               {"maxLength", nullptr}};  // every key on every item: null where it does not apply
        if (e.kind == EntryKind::Choice) {
            item["values"] = e.list->Entries();
        } else if (e.kind == EntryKind::Text) {
            item["rule"] = RuleName(e.rule);
            item["maxLength"] = e.maxLength;
        }
        items.push_back(item);
    }
    run.io.out << items.dump(2) << "\n";
    return kExitDone;
}

int ExportCommand(CliRun& run, const CommandArgs& args)
{
    if (args.file != "-") {
        if (const std::string why = NotARegularFile(args.file); !why.empty()) {
            return run.Fail(kExitUsage, "will not write the profile to " + args.file + ": " + why +
                                            "; export replaces regular files only (- for standard output)");
        }
    }
    SettingsSnapshot s;
    if (!run.Connect() || !run.Read(s)) {
        return kExitDevice;
    }
    const std::string text = MakeProfile(s).dump(2) + "\n";
    if (args.file == "-") {
        // The same bytes as in a file: LF, on Windows too, where standard output would write CR LF.
        run.io.out.flush();
        const ExactWrites exact(run.io.outFd);
        run.io.out << text << std::flush;
        return kExitDone;
    }
    std::string error;
    if (!ReplaceFileText(args.file, text, error)) {
        return run.Fail(kExitUsage, "cannot write " + args.file + ": " + error);
    }
    return kExitDone;
}

// The commands that only read: list, show, get, keys and export.
#include "cli/profile.h"
#include "cli/run.h"
#include "device/file_io.h"
#include "device/firmware_stream.h"
#include "settings/text_encoding.h"
#include "settings/catalogue.h"

#include <nlohmann/json.hpp>

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

const char* KindName(EntryKind kind)
{
    return kind == EntryKind::Status ? "status" : kind == EntryKind::Choice ? "choice" : "text";
}

}  // namespace

int ListCommand(CliRun& run, const CommandArgs& args)
{
    nlohmann::json items = nlohmann::json::array();
    for (const HidDeviceInfo& info : run.Backend().Platform().Enumerate(controller::kVendorId)) {
        if (!controller::IsControllerProduct(info.productId)) {
            continue;
        }
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
                                   {"value", Latin1ToUtf8(s.ValueText(e))}};
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
            {"device", run.Link().DevicePath()},
            {"firmware", {{"detected", FormatFirmwareVersion(s.Firmware())}, {"available", FirmwareImageVersion()}}},
            {"station", {{"model", station.model == 0 ? nlohmann::json() : nlohmann::json(7400 + station.model)},
                         {"version", station.version},
                         {"text", s.ValueText(StationEntry())}}},
            {"lineLevel", s.LevelPercent()},
            {"settings", settings},
        };
        run.io.out << doc.dump(2) << "\n";
        return kExitDone;
    }
    const std::string detected = FormatFirmwareVersion(s.Firmware());
    run.io.out << "Controller   " << run.Link().DevicePath() << "\n";
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
            char line[160];
            std::snprintf(line, sizeof line, "  %-34s %-32s %s%s\n", e->key, e->label, Printable(s.ValueText(*e)).c_str(),
                          e->stationOnly && !s.KeypadStation() ? "   (shown for a 7407 station only)" : "");
            run.io.out << line;
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
        nlohmann::json item = {{"key", entry->key}, {"value", Latin1ToUtf8(s.ValueText(*entry))}};
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
    nlohmann::json items = nlohmann::json::array();
    for (const CatalogueEntry& e : ParameterCatalogue()) {
        if (!args.json) {
            run.io.out << e.key << "\t" << kTabNames[static_cast<std::size_t>(e.tab)] << "\t" << e.label << "\t"
                       << KindName(e.kind) << (e.stationOnly ? " (7407 station)" : "") << "\t" << Describe(e) << "\n";
            continue;
        }
        nlohmann::json item = {{"key", e.key},
                               {"tab", kTabNames[static_cast<std::size_t>(e.tab)]},
                               {"label", e.label},
                               {"kind", KindName(e.kind)},
                               {"stationOnly", e.stationOnly}};
        if (e.kind == EntryKind::Choice) {
            item["values"] = e.list->Entries();
        } else if (e.kind == EntryKind::Text) {
            item["rule"] = RuleName(e.rule);
            item["maxLength"] = e.maxLength;
        }
        items.push_back(item);
    }
    if (args.json) {
        run.io.out << items.dump(2) << "\n";
    }
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
        run.io.out << text;
        return kExitDone;
    }
    std::string error;
    if (!ReplaceFile(args.file, text, error)) {
        return run.Fail(kExitUsage, "cannot write " + args.file + ": " + error);
    }
    return kExitDone;
}

// The commands that change the controller's settings: set, restore-defaults and import.
#include "cli/profile.h"
#include "cli/run.h"
#include "device/file_io.h"
#include "settings/setting_value.h"
#include "settings/text_encoding.h"

#include <nlohmann/json.hpp>


static std::string WithKeysHint(const CatalogueEntry& entry, const std::string& error)
{
    return entry.kind == EntryKind::Choice ? error + " (see: doorphonectl keys)" : error;
}

int SetCommand(CliRun& run, const CommandArgs& args)
{
    const CatalogueEntry* entry = FindEntryByKeyOrLabel(args.key);
    if (entry == nullptr) {
        return run.Fail(kExitUsage, UnknownSetting(args.key));
    }
    SettingValue value;
    if (auto error = ParseSettingValue(*entry, args.value, true, value)) {
        return run.Fail(kExitUsage, WithKeysHint(*entry, *error));
    }
    SettingsSnapshot s;
    if (!run.Connect() || !run.Read(s)) {
        return kExitDevice;
    }
    if (!s.Allows(*entry)) {
        return run.Fail(kExitUsage, RuleText(*DependencyOf(*entry)));
    }
    if (!WriteSetting(run.Link(), value)) {
        return run.Fail(kExitDevice, std::string("the controller refused the report for ") + entry->key + ": " +
                                         DeviceLink::LastError());
    }
    if (!run.ReadBack(s, std::string(entry->key) + " = \"" + Printable(value.Display()) + "\"")) {
        return kExitDevice;
    }
    if (!Holds(s, value)) {
        return run.Fail(kExitDevice, std::string("the controller did not take the value of ") + entry->key +
                                         ": it holds \"" + s.ValueText(*entry) + "\"");
    }
    return kExitDone;
}

int RestoreDefaultsCommand(CliRun& run, const CommandArgs&)
{
    if (!run.Connect()) {
        return kExitDevice;
    }
    if (!run.Link().SendRestoreDefaults()) {
        return run.Fail(kExitDevice, "the controller refused the restore-defaults report: " + DeviceLink::LastError());
    }
    return kExitDone;
}

int ImportCommand(CliRun& run, const CommandArgs& args)
{
    const std::string& file = args.file;
    std::string readError;
    const std::optional<std::string> text = ReadWholeFile(file, kLargestProfile, readError);
    if (!text) {
        return run.Fail(kExitUsage, "cannot read " + file + ": " + readError);
    }
    ProfileContents contents = ReadProfileText(*text);
    for (const std::string& error : contents.errors) {
        run.Fail(kExitUsage, file + ": " + error);
    }
    if (!contents.errors.empty()) {
        return kExitUsage;
    }
    SettingsSnapshot s;
    if (!run.Connect() || !run.Read(s)) {
        return kExitDevice;
    }
    std::vector<SettingValue> changes;
    for (const SettingValue& v : contents.values) {
        if (!Holds(s, v)) {
            changes.push_back(v);
        }
    }
    const WriteOrder order = OrderForWriting(std::move(changes), s);
    if (order.broken) {
        return run.Fail(kExitUsage, file + ": " + RuleText(*order.broken));
    }
    if (order.values.empty()) {
        run.io.out << "Nothing to change: the controller already holds the profile.\n";
        return kExitDone;
    }
    std::string written;  // what the controller took so far, for a failure's message
    for (const SettingValue& v : order.values) {
        run.io.out << (args.dryRun ? "would set " : "set ") << v.entry->key << ": \"" << Printable(s.ValueText(*v.entry))
                   << "\" -> \"" << Printable(v.Display()) << "\"\n";
        if (!args.dryRun && !WriteSetting(run.Link(), v)) {
            return run.Fail(kExitDevice, std::string("the controller refused the report for ") + v.entry->key + ": " +
                                             DeviceLink::LastError() + "; " +
                                             (written.empty() ? "nothing was written before it"
                                                              : "already written: " + written));
        }
        written += (written.empty() ? "" : ", ") + std::string(v.entry->key) + " = \"" + Printable(v.Display()) + "\"";
    }
    if (args.dryRun) {
        return kExitDone;
    }
    SettingsSnapshot after;
    if (!run.ReadBack(after, written)) {
        return kExitDevice;
    }
    int missed = 0;
    for (const SettingValue& v : contents.values) {
        if (!Holds(after, v)) {
            run.Fail(kExitDevice, std::string(v.entry->key) + " did not take: the controller holds \"" +
                                      after.ValueText(*v.entry) + "\"");
            ++missed;
        }
    }
    return missed ? kExitDevice : kExitDone;
}

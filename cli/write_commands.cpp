// The commands that change the controller's settings: set, restore-defaults and import.
#include "cli/commands.h"
#include "cli/profile.h"
#include "portable/file_io.h"
#include "session/stop_request.h"
#include "settings/entry_rules.h"
#include "settings/setting_value.h"
#include "settings/text_encoding.h"

#include <nlohmann/json.hpp>

// An entry error in the window's words after the setting's label, with the limit or the allowed values the
// window leaves unsaid: "DTMF Password: Entry too long (at most 4 characters)".
static std::string EntryError(const CatalogueEntry& entry, const std::string& error)
{
    const std::string label = entry.label;
    if (entry.kind == EntryKind::Text) {
        const std::string most = std::to_string(entry.maxLength);
        if (error == message::kEntryTooLong) {
            return label + ": " + error + " (at most " + most + " characters)";
        }
        if (error == message::kNotAllNumeric) {
            return label + ": " + error + " (digits 0-9 only, at most " + most + ")";
        }
        return label + ": " + error;
    }
    if (entry.kind != EntryKind::Choice) {
        return error;
    }
    const ChoiceList& list = *entry.list;
    const int last = list.Size() - 1;
    const std::string positions = " (or a position, #0 to #" + std::to_string(last) + ")";
    if (EntriesAreNumbers(list)) {
        return label + ": " + error + ": the values are " + list.Entry(0) + " to " + list.Entry(last) + positions;
    }
    constexpr int kNamedInFull = 8;  // a longer list is named by its ends
    // Appended piece by piece: GCC 12 takes "literal" + std::string for overlapping copies (a false
    // -Wrestrict in the MinGW build).
    std::string values;
    auto quoted = [&values](const std::string& entry) {
        values += '"';
        values += entry;
        values += '"';
    };
    if (list.Size() <= kNamedInFull) {
        for (int i = 0; i <= last; ++i) {
            values += i ? ", " : "";
            quoted(list.Entry(i));
        }
    } else {
        quoted(list.Entry(0));
        values += ", ";
        quoted(list.Entry(1));
        values += ", ... ";
        quoted(list.Entry(last));
        values += " (";
        values += std::to_string(list.Size());
        values += " values; all of them: doorphonectl keys)";
    }
    return label + ": " + error + "; the values are " + values + positions;
}

int SetCommand(CliRun& run, const CommandArgs& args)
{
    const CatalogueEntry* entry = FindEntryByKeyOrLabel(args.key);
    if (entry == nullptr) {
        return run.Fail(kExitUsage, UnknownSetting(args.key));
    }
    // A text is judged by its characters, as the window judges what is typed into it.
    const std::string given = entry->kind == EntryKind::Text ? EntryText(args.value) : args.value;
    SettingValue value;
    if (auto error = ParseSettingValue(*entry, given, true, value)) {
        return run.Fail(kExitUsage, EntryError(*entry, *error));
    }
    const StopRequest& stop = run.CatchStopSignals();
    SettingsSnapshot s;
    if (!run.Connect() || !run.Read(s)) {
        return kExitDevice;
    }
    if (!s.Allows(*entry)) {
        return run.Fail(kExitUsage, RuleText(*DependencyOf(*entry)));
    }
    if (stop.Requested()) {
        return run.Fail(kExitDevice, std::string("stopped before ") + entry->key + " was sent; nothing was written");
    }
    const std::string written = std::string(entry->key) + " = \"" + Printable(value.Display()) + "\"";
    if (!run.Session().Write(value)) {
        if (stop.Requested()) {  // the stop cancelled the transfer under way
            return run.Fail(kExitDevice, "stopped while sending " + written + ": " + LinkError() +
                                             "; the controller may or may not have taken it");
        }
        return run.Fail(kExitDevice,
                        std::string("the controller refused the report for ") + entry->key + ": " + LinkError());
    }
    if (stop.Requested()) {
        return run.Fail(kExitDevice, "stopped after the controller took " + written + "; it was not read back");
    }
    if (!run.ReadBack(s, written)) {
        return kExitDevice;
    }
    if (!Holds(s, value)) {
        return run.Fail(kExitDevice, std::string("the controller did not take the value of ") + entry->key +
                                         ": it holds \"" + s.ValueText(*entry) + "\"");
    }
    run.io.out << written << "\n";
    return kExitDone;
}

int RestoreDefaultsCommand(CliRun& run, const CommandArgs&)
{
    const StopRequest& stop = run.CatchStopSignals();
    if (!run.Connect()) {
        return kExitDevice;
    }
    if (stop.Requested()) {
        return run.Fail(kExitDevice, "stopped before the restore was sent; the controller keeps its settings");
    }
    if (!run.Session().RestoreDefaults()) {
        if (stop.Requested()) {
            return run.Fail(kExitDevice, "stopped while sending the restore: " + LinkError() +
                                             "; the controller may or may not have restored its defaults");
        }
        return run.Fail(kExitDevice, "the controller refused the restore-defaults report: " + LinkError());
    }
    return kExitDone;
}

ProfileApplied ApplyProfile(CliRun& run, const ProfileContents& contents, const SettingsSnapshot& held, bool dryRun,
                            std::ostream& detail, const StopRequest* stop)
{
    ProfileApplied result;
    auto fail = [&](int code, const std::string& failure) {
        result.code = code;
        result.failures.push_back(failure);
        return result;
    };
    std::vector<SettingValue> changes;
    for (const SettingValue& v : contents.values) {
        if (!Holds(held, v)) {
            changes.push_back(v);
        }
    }
    const WriteOrder order = OrderForWriting(std::move(changes), held);
    if (order.broken) {
        return fail(kExitUsage, RuleText(*order.broken));
    }
    result.changes = static_cast<int>(order.values.size());
    std::string written;  // what the controller took so far, for a failure's message
    auto notWritten = [&](std::size_t from) {
        std::string rest;
        for (std::size_t i = from; i < order.values.size(); ++i) {
            rest += (rest.empty() ? "" : ", ") + std::string(order.values[i].entry->key);
        }
        return rest;
    };
    for (std::size_t i = 0; i < order.values.size(); ++i) {
        const SettingValue& v = order.values[i];
        if (stop && stop->Requested() && !dryRun) {
            result.interrupted = true;
            return fail(kExitDevice, "stopped before " + std::string(v.entry->key) + "; " +
                                         (written.empty() ? "nothing was written" : "already written: " + written) +
                                         "; not written: " + notWritten(i));
        }
        detail << (dryRun ? "would set " : "set ") << v.entry->key << ": \"" << Printable(held.ValueText(*v.entry))
               << "\" -> \"" << Printable(v.Display()) << "\"\n"
               << std::flush;  // each line out before its transfer, whatever ends the run
        if (dryRun) {
            continue;
        }
        if (!run.Session().Write(v)) {
            if (stop && stop->Requested()) {
                result.interrupted = true;
                return fail(kExitDevice,
                            "stopped while sending " + std::string(v.entry->key) + ": " + LinkError() +
                                "; the controller may or may not have taken it; " +
                                (written.empty() ? "nothing was written before it" : "already written: " + written) +
                                (i + 1 < order.values.size() ? "; not written: " + notWritten(i + 1) : ""));
            }
            return fail(kExitDevice,
                        std::string("the controller refused the report for ") + v.entry->key + ": " + LinkError() +
                            "; " + (written.empty() ? "nothing was written before it" : "already written: " + written));
        }
        ++result.written;
        written += (written.empty() ? "" : ", ") + std::string(v.entry->key) + " = \"" + Printable(v.Display()) + "\"";
    }
    if (dryRun || order.values.empty()) {
        return result;
    }
    if (stop && stop->Requested()) {
        result.interrupted = true;
        return fail(kExitDevice, "stopped after the last setting; already written: " + written + "; not read back");
    }
    SettingsSnapshot after;
    if (!run.Session().ReadSettings(after)) {
        return fail(kExitDevice, ReadBackFailure(written));
    }
    for (const SettingValue& v : contents.values) {
        if (!Holds(after, v)) {
            result.code = kExitDevice;
            result.failures.push_back(std::string(v.entry->key) + " did not take: the controller holds \"" +
                                      after.ValueText(*v.entry) + "\"");
        }
    }
    return result;
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
    const StopRequest* stop = args.dryRun ? nullptr : &run.CatchStopSignals();
    SettingsSnapshot s;
    if (!run.Connect() || !run.Read(s)) {
        return kExitDevice;
    }
    const ProfileApplied applied = ApplyProfile(run, contents, s, args.dryRun, run.io.out, stop);
    for (const std::string& failure : applied.failures) {
        run.Fail(applied.code, applied.code == kExitUsage ? file + ": " + failure : failure);
    }
    if (applied.code == kExitDone && applied.changes == 0) {
        run.io.out << "Nothing to change: the controller already holds the profile.\n";
    }
    return applied.code;
}

#include "cli/unit_record.h"

#include "portable/process_io.h"
#include "settings/text_encoding.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace {

std::string Version(const std::optional<FirmwareVersion>& v)
{
    return v ? FormatFirmwareVersion(*v) : std::string("unknown");
}

nlohmann::json VersionJson(const std::optional<FirmwareVersion>& v)
{
    return v ? nlohmann::json(FormatFirmwareVersion(*v)) : nlohmann::json();
}

const char* OutcomeName(UnitResult::Outcome outcome)
{
    switch (outcome) {
    case UnitResult::Outcome::Ok:
        return "ok";
    case UnitResult::Outcome::Failed:
        return "failed";
    default:
        return "interrupted";
    }
}

std::string LocalTime()
{
    return LocalTimeStamp(std::time(nullptr));
}

// A reason may come in lines (the access advice); a result stays on one.
std::string OneLine(std::string text)
{
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
}

}  // namespace

std::string ResultLine(const UnitResult& r)
{
    std::string line = r.path + ": firmware " + Version(r.before) + " -> " + Version(r.after) + ", " +
                       std::to_string(r.written) + (r.written == 1 ? " setting" : " settings") + " written, ";
    switch (r.outcome) {
    case UnitResult::Outcome::Ok:
        return line + "OK";
    case UnitResult::Outcome::Failed:
        return line + "FAILED: " + OneLine(r.reason);
    default:
        return line + "INTERRUPTED: " + OneLine(r.reason);
    }
}

nlohmann::json ResultJson(const UnitResult& r)
{
    nlohmann::json j = {{"path", Latin1ToUtf8(r.path)},
                        {"firmwareBefore", VersionJson(r.before)},
                        {"firmwareAfter", VersionJson(r.after)},
                        {"flashed", r.flashed},
                        {"written", r.written},
                        {"result", OutcomeName(r.outcome)},
                        {"reason", nullptr}};  // null on success: every key is always there
    if (r.outcome != UnitResult::Outcome::Ok) {
        j["reason"] = Latin1ToUtf8(r.reason);
    }
    return j;
}

std::unique_ptr<UnitLog> UnitLog::Open(const std::string& path, std::string& error)
{
    std::unique_ptr<AppendOnlyFile> file = AppendOnlyFile::Open(path, error);
    return file ? std::unique_ptr<UnitLog>(new UnitLog(path, std::move(file))) : nullptr;
}

bool UnitLog::Append(const std::string& what, const UnitResult& result, std::string& error)
{
    return file_->Append(LocalTime() + " " + what + " " + ResultLine(result) + "\n", error);
}

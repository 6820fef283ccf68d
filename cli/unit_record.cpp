#include "cli/unit_record.h"

#include "settings/text_encoding.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
    return text;
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
                        {"result", OutcomeName(r.outcome)}};
    if (r.outcome != UnitResult::Outcome::Ok) {
        j["reason"] = Latin1ToUtf8(r.reason);
    }
    return j;
}

std::unique_ptr<UnitLog> UnitLog::Open(const std::string& path, std::string& error)
{
    // Non-blocking, so a FIFO nobody reads is refused rather than waited on.
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0644);
    if (fd < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        error = "not a regular file";
        return nullptr;
    }
    return std::unique_ptr<UnitLog>(new UnitLog(path, fd));
}

UnitLog::~UnitLog()
{
    close(fd_);
}

bool UnitLog::Append(const std::string& what, const UnitResult& result, std::string& error)
{
    // One write of the whole line, so records of two runs on one file never interleave within a line.
    const std::string line = LocalTime() + " " + what + " " + ResultLine(result) + "\n";
    const ssize_t n = write(fd_, line.data(), line.size());
    if (n != static_cast<ssize_t>(line.size())) {
        error = n < 0 ? std::strerror(errno) : "the line was cut short";
        return false;
    }
    if (fdatasync(fd_) != 0) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

// What was done to one controller, said the same way on the terminal, in JSON and in the record the
// technician hands over with the building (--log FILE: one line per unit, appended).
#pragma once

#include "device/reports.h"
#include "portable/file_io.h"

#include <nlohmann/json.hpp>

#include <memory>
#include <optional>
#include <string>

struct UnitResult {
    enum class Outcome { Ok, Failed, Interrupted };

    std::string path;
    std::optional<FirmwareVersion> before;  // nothing when it could not be read
    std::optional<FirmwareVersion> after;
    bool flashed = false;
    int written = 0;  // settings the controller took
    Outcome outcome = Outcome::Ok;
    std::string reason;  // with Failed or Interrupted: what happened and what state the controller is in
};

// "virtual:7410/1: firmware 1.05.2 -> 2.01.0, 12 settings written, OK"
std::string ResultLine(const UnitResult& result);
// {"path", "firmwareBefore", "firmwareAfter", "flashed", "written", "result": "ok"|"failed"|"interrupted", "reason"}
nlohmann::json ResultJson(const UnitResult& result);

class UnitLog {
public:
    // Opens FILE for appending, made when missing. Null, with the reason, when it cannot be.
    static std::unique_ptr<UnitLog> Open(const std::string& path, std::string& error);
    UnitLog(const UnitLog&) = delete;
    UnitLog& operator=(const UnitLog&) = delete;

    // One line: the local time with its offset, `what` (the command and what it applied), the result line.
    // Written whole and synced to the disk; false, with the reason, when it could not be.
    bool Append(const std::string& what, const UnitResult& result, std::string& error);
    const std::string& Path() const { return path_; }

private:
    UnitLog(std::string path, std::unique_ptr<AppendOnlyFile> file) : path_(std::move(path)), file_(std::move(file)) {}
    std::string path_;
    std::unique_ptr<AppendOnlyFile> file_;
};

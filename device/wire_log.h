// The wire log: one line per feature-report transfer, whichever backend and thread made it. Where several
// controllers are worked on at once (provision), each line starts with the unit it went to:
//   SET 03 04 32 33 30 37 00 ... 00 ok
//   /dev/hidraw3: SET 03 04 32 33 30 37 00 ... 00 ok
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

class WireLog {
public:
    // Appends to `path`; null with the system's text in `error` when the file cannot be opened. A write that
    // fails later is said once on standard error, and the transfers go on; Failure() keeps it for the end.
    static std::unique_ptr<WireLog> Open(const std::string& path, std::string& error);
    // Writes to a stream the caller keeps open (tests, standard error).
    explicit WireLog(std::FILE* stream);

    // Each line is written whole, however many threads record at once; `unit`, when given, leads it.
    void Record(bool isSet, const uint8_t* data, std::size_t length, bool ok, const std::string& unit = {});

    static std::string FormatLine(bool isSet, const uint8_t* data, std::size_t length, bool ok);

    // The system's text for the first write to the log that failed; empty while none has.
    std::string Failure() const;
    const std::string& Path() const { return path_; }

private:
    struct FileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    WireLog(std::unique_ptr<std::FILE, FileCloser> owned);

    std::unique_ptr<std::FILE, FileCloser> owned_;
    std::FILE* stream_;
    mutable std::mutex mutex_;
    std::string path_;
    std::string failure_;  // the first write that failed, said when it happened
};

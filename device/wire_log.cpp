#include "device/wire_log.h"

#include "portable/file_io.h"

#include <cerrno>
#include <cstring>

std::unique_ptr<WireLog> WireLog::Open(const std::string& path, std::string& error)
{
    std::unique_ptr<std::FILE, FileCloser> file(OpenForAppending(path, error));
    if (!file) {
        return nullptr;
    }
    auto log = std::unique_ptr<WireLog>(new WireLog(std::move(file)));
    log->path_ = path;
    return log;
}

WireLog::WireLog(std::FILE* stream) : stream_(stream) {}

WireLog::WireLog(std::unique_ptr<std::FILE, FileCloser> owned) : owned_(std::move(owned)), stream_(owned_.get()) {}

std::string WireLog::FormatLine(bool isSet, const uint8_t* data, std::size_t length, bool ok)
{
    static const char kHex[] = "0123456789abcdef";
    std::string line = isSet ? "SET" : "GET";
    line.reserve(8 + 3 * length);
    for (std::size_t i = 0; i < length; ++i) {
        line.push_back(' ');
        line.push_back(kHex[data[i] >> 4]);
        line.push_back(kHex[data[i] & 0x0F]);
    }
    line += ok ? " ok\n" : " fail\n";
    return line;
}

std::string WireLog::Failure() const
{
    std::lock_guard lock(mutex_);
    return failure_;
}

void WireLog::Record(bool isSet, const uint8_t* data, std::size_t length, bool ok, const std::string& unit)
{
    const std::string line = (unit.empty() ? std::string() : unit + ": ") + FormatLine(isSet, data, length, ok);
    std::lock_guard lock(mutex_);
    const bool written = std::fputs(line.c_str(), stream_) >= 0 && std::fflush(stream_) == 0;
    if (!written && failure_.empty()) {
        // Said once; the transfers themselves go on, and the program reports the gap when it ends.
        failure_ = std::strerror(errno);
        std::fprintf(stderr, "cannot write the wire log %s: %s; transfers go on unlogged\n",
                     path_.empty() ? "stream" : path_.c_str(), failure_.c_str());
    }
    if (!written) {
        std::clearerr(stream_);
    }
}

#include "device/wire_log.h"

#include <cerrno>
#include <cstring>

std::unique_ptr<WireLog> WireLog::Open(const std::string& path, std::string& error)
{
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "a"));
    if (!file) {
        error = std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<WireLog>(new WireLog(std::move(file)));
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

void WireLog::Record(bool isSet, const uint8_t* data, std::size_t length, bool ok)
{
    const std::string line = FormatLine(isSet, data, length, ok);
    std::lock_guard lock(mutex_);
    std::fputs(line.c_str(), stream_);
    std::fflush(stream_);
}

// What the process's standard descriptors and times share on every system; the rest is in the _posix and
// _windows files.
#include "portable/process_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

std::string LocalTimeStamp(std::time_t when)
{
    std::tm local{};
    std::tm utc{};
    BreakDownTime(when, local, utc);
    // The offset from the two broken-down times, since the MinGW runtime's %z gives none.
    int minutes = (local.tm_hour - utc.tm_hour) * 60 + (local.tm_min - utc.tm_min);
    const int dayStep = local.tm_year != utc.tm_year ? (local.tm_year > utc.tm_year ? 1 : -1)
                                                     : (local.tm_yday > utc.tm_yday   ? 1
                                                        : local.tm_yday < utc.tm_yday ? -1
                                                                                      : 0);
    minutes += dayStep * 24 * 60;
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    const int magnitude = minutes < 0 ? -minutes : minutes;
    char offset[8];
    std::snprintf(offset, sizeof offset, "%c%02d%02d", minutes < 0 ? '-' : '+', magnitude / 60 % 100, magnitude % 60);
    return std::string(text) + offset;
}

bool WriteToDescriptor(int fd, const char* data, std::size_t size, std::string& error)
{
    std::size_t done = 0;
    while (done < size) {
        const long n = WriteOnce(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = n < 0 ? std::strerror(errno) : "nothing could be written";
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

#include "device/process_io.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#endif

void OpenNullOnClosedStandardDescriptors()
{
    for (int fd = 0; fd <= 2; ++fd) {
#ifdef _WIN32
        if (_get_osfhandle(fd) == -1) {
            const int opened = _open("NUL", fd == 0 ? _O_RDONLY : _O_WRONLY);
            if (opened >= 0 && opened != fd) {
                _dup2(opened, fd);
                _close(opened);
            }
        }
#else
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            // The lowest free number: this one, since those below it are open by now.
            const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
            if (opened >= 0 && opened != fd) {
                dup2(opened, fd);
                close(opened);
            }
        }
#endif
    }
}

void IgnoreBrokenPipe()
{
#ifndef _WIN32
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
#endif
}

bool WriteToDescriptor(int fd, const char* data, std::size_t size, std::string& error)
{
    std::size_t done = 0;
    while (done < size) {
#ifdef _WIN32
        const int n = _write(fd, data + done, static_cast<unsigned>(size - done));
#else
        const ssize_t n = write(fd, data + done, size - done);
#endif
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

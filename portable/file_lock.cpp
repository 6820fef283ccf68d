#include "portable/file_lock.h"

#ifdef _WIN32
#include "portable/windows_text.h"

#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace portable {

#ifdef _WIN32

std::unique_ptr<FileLock> FileLock::Take(const std::string& path, bool create, const std::function<void()>& waiting,
                                         std::string& error)
{
    const HANDLE file = CreateFileW(WidePath(path).c_str(), create ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = "cannot open: " + SystemErrorText(GetLastError());
        return nullptr;
    }
    // The whole of any length the file may ever have.
    OVERLAPPED range{};
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &range)) {
        if (waiting) {
            waiting();
        }
        if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &range)) {
            error = "cannot lock it: " + SystemErrorText(GetLastError());
            CloseHandle(file);
            return nullptr;
        }
    }
    return std::unique_ptr<FileLock>(new FileLock(file));
}

FileLock::~FileLock()
{
    CloseHandle(native_);  // releases the lock
}

#else

std::unique_ptr<FileLock> FileLock::Take(const std::string& path, bool create, const std::function<void()>& waiting,
                                         std::string& error)
{
    const int fd = create ? open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)
                          : open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = std::string("cannot open: ") + std::strerror(errno);
        return nullptr;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK && waiting) {
        waiting();  // another process holds it: say so before waiting in silence
    }
    while (flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            error = std::string("cannot lock it: ") + std::strerror(errno);
            close(fd);
            return nullptr;
        }
    }
    return std::unique_ptr<FileLock>(new FileLock(fd));
}

FileLock::~FileLock()
{
    close(native_);  // releases the lock
}

#endif

}  // namespace portable

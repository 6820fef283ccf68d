// The lock on Linux: flock.
#include "portable/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace portable {

LockOutcome LockOpenFile(NativeFile file, bool wait, std::string& error)
{
    while (flock(file, LOCK_EX | (wait ? 0 : LOCK_NB)) != 0) {
        if (errno == EWOULDBLOCK && !wait) {
            return LockOutcome::HeldElsewhere;
        }
        if (errno != EINTR) {
            error = std::strerror(errno);
            return LockOutcome::Failed;
        }
    }
    return LockOutcome::Taken;
}

std::unique_ptr<FileLock> FileLock::Take(const std::string& path, bool create, const std::function<void()>& waiting,
                                         std::string& error)
{
    const int fd = create ? open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)
                          : open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = std::string("cannot open: ") + std::strerror(errno);
        return nullptr;
    }
    std::string reason;
    LockOutcome outcome = LockOpenFile(fd, false, reason);
    if (outcome == LockOutcome::HeldElsewhere) {
        if (waiting) {
            waiting();  // another process holds it: say so before waiting in silence
        }
        outcome = LockOpenFile(fd, true, reason);
    }
    if (outcome != LockOutcome::Taken) {
        error = "cannot lock it: " + reason;
        close(fd);
        return nullptr;
    }
    return std::unique_ptr<FileLock>(new FileLock(fd));
}

FileLock::~FileLock()
{
    close(native_);  // releases the lock
}

}  // namespace portable

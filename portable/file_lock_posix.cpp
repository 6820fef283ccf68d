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

bool FileLock::Open(const std::string& path, bool create, Native& file, std::string& error)
{
    file = create ? open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)
                  : open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (file < 0) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

void FileLock::Close(Native file)
{
    close(file);
}

}  // namespace portable

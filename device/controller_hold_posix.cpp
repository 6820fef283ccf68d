// The hold on Linux: flock, whose lock goes with the holder's last descriptor.
#include "device/controller_hold.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

std::string ReadHolder(int fd)
{
    char text[256];
    const ssize_t n = pread(fd, text, sizeof text - 1, 0);
    return controller_hold::HolderFromFile(n > 0 ? std::string(text, static_cast<std::size_t>(n)) : std::string());
}

}  // namespace

ControllerHold::Attempt ControllerHold::Take(const std::string& key, const std::string& me)
{
    Attempt attempt;
    const std::string path = Directory() + "/" + controller_hold::FileNameFor(key);
    // A holder removes the file as it lets go; one locked after that removal is no longer the lock at
    // `path`, so the attempt starts again with a fresh file.
    for (int tries = 0; tries < 8; ++tries) {
        // No link is followed: in a folder every user writes, another user's link could aim anywhere.
        int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
        const bool writable = fd >= 0;
        if (fd < 0 && errno == EACCES) {
            fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);  // another user's: flock needs no write
        }
        if (fd < 0) {
            attempt.error = "cannot make the lock " + path + ": " + std::strerror(errno);
            return attempt;
        }
        struct stat st {};
        if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            close(fd);
            attempt.error = "the lock " + path + " is not a regular file";
            return attempt;
        }
        if (writable && st.st_uid == geteuid()) {
            fchmod(fd, 0666);  // the next holder may be another user; the umask would keep them out
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            if (error == EWOULDBLOCK) {
                attempt.heldBy = ReadHolder(fd);
            } else {
                attempt.error = "cannot lock " + path + ": " + std::strerror(error);
            }
            close(fd);
            return attempt;
        }
        struct stat now {};
        if (stat(path.c_str(), &now) != 0 || now.st_ino != st.st_ino || now.st_dev != st.st_dev) {
            close(fd);  // removed by the holder before us
            continue;
        }
        if (writable) {
            const std::string name = me + ", process " + std::to_string(getpid()) + "\n";
            if (ftruncate(fd, 0) == 0) {
                [[maybe_unused]] const ssize_t n = pwrite(fd, name.data(), name.size(), 0);
            }
        }
        attempt.hold.reset(new ControllerHold(key, path, fd));
        return attempt;
    }
    attempt.error = "cannot keep the lock " + path + ": it is removed again and again";
    return attempt;
}

ControllerHold::~ControllerHold()
{
    // Removed while still locked, so whoever opened it meanwhile finds it gone once the lock is theirs.
    unlink(path_.c_str());
    close(lock_);
}

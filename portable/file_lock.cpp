// What taking a lock file is on every system; the system's own calls are in the _posix and _windows files.
#include "portable/file_lock.h"

namespace portable {

std::unique_ptr<FileLock> FileLock::Take(const std::string& path, bool create, const std::function<void()>& waiting,
                                         std::string& error)
{
    Native file{};
    std::string reason;
    if (!Open(path, create, file, reason)) {
        error = "cannot open: " + reason;
        return nullptr;
    }
    LockOutcome outcome = LockOpenFile(file, false, reason);
    if (outcome == LockOutcome::HeldElsewhere) {
        if (waiting) {
            waiting();  // another process holds it: say so before waiting in silence
        }
        outcome = LockOpenFile(file, true, reason);
    }
    if (outcome != LockOutcome::Taken) {
        error = "cannot lock it: " + reason;
        Close(file);
        return nullptr;
    }
    return std::unique_ptr<FileLock>(new FileLock(file));
}

FileLock::~FileLock()
{
    Close(native_);  // which lets go of the lock
}

}  // namespace portable

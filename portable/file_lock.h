// An exclusive lock between processes on a whole file: flock on Linux, LockFileEx on Windows. The system lets
// go of it when the object goes or the process ends, however it ends.
#pragma once

#include "portable/system.h"

#include <functional>
#include <memory>
#include <string>

namespace portable {

enum class LockOutcome { Taken, HeldElsewhere, Failed };
// Locks `file`, waiting while another process holds it when `wait`; with Failed, the system's reason in `error`.
LockOutcome LockOpenFile(NativeFile file, bool wait, std::string& error);

// A lock file taken by its path, for as long as the object lives.
class FileLock {
public:
    // Opens the file at `path` (made when `create` and missing) and locks it, waiting while another process
    // holds it; `waiting` is called once before such a wait. Null, with the reason in `error`, when the file
    // cannot be opened ("cannot open: ...") or locked ("cannot lock it: ...").
    static std::unique_ptr<FileLock> Take(const std::string& path, bool create, const std::function<void()>& waiting,
                                          std::string& error);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    using Native = portable::NativeFile;
    explicit FileLock(Native native) : native_(native) {}
    // The system's two steps around the lock: false, with its reason, when the file cannot be opened.
    static bool Open(const std::string& path, bool create, Native& file, std::string& error);
    static void Close(Native file);
    Native native_;
};

}  // namespace portable

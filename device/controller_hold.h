// One program at a time changes a controller: a hold taken on the controller, across processes, for the
// whole of a change (and, for an install, through the controller's restart). It is a lock file named after
// the controller's USB port (its device path where the port is unknown), locked with flock on Linux and
// LockFileEx on Windows: the lock goes with the holder's last handle, so a holder that crashes leaves no stale hold. The holder writes its
// name into the file for the program it refuses, and removes the file when it lets go.
#pragma once

#include "portable/native_file.h"

#include <memory>
#include <string>

class ControllerHold {
public:
    struct Attempt {
        std::unique_ptr<ControllerHold> hold;  // taken
        std::string heldBy;  // or refused: who holds it ("doorphonectl flash, process 1234")
        std::string error;   // or neither: why no hold can be had here (the change may go on unguarded)
    };
    // Never waits. `me` is how this program names itself to others ("doorphonectl flash").
    static Attempt Take(const std::string& key, const std::string& me);
    ~ControllerHold();
    ControllerHold(const ControllerHold&) = delete;
    ControllerHold& operator=(const ControllerHold&) = delete;

    const std::string& Key() const { return key_; }

    // Where the lock files live: $DOORPHONECONFIG_LOCK_DIR when set (the emulator gives each bench its
    // own), else /run/lock, which every user may write on Debian.
    static std::string Directory();

private:
    using Lock = portable::NativeFile;
    ControllerHold(std::string key, std::string path, Lock lock) : key_(std::move(key)), path_(std::move(path)), lock_(lock) {}
    std::string key_;
    std::string path_;
    Lock lock_;
};

// What both platforms' holds share.
namespace controller_hold {
// A file name from any key: letters, digits, '-' and '.' kept, everything else '_'.
std::string FileNameFor(const std::string& key);
// The holder's name as read from its file, safe to print; "another program" when it wrote none.
std::string HolderFromFile(std::string text);
}  // namespace controller_hold

// One program at a time changes a controller: a hold taken on the controller, across processes, for the
// whole of a change (and, for an install, through the controller's restart).
//
// On Linux the hold is a lock (flock) on the controller's own hidraw node, which only a user who may open
// the controller can take; the system lets go of it with the holder's last descriptor, so a holder that dies
// leaves nothing held. Who holds it is read from the system (/proc/locks, /proc/PID), never from a file that
// anyone could write. Through an install's restart, when no node exists, the hold is bridged by a record:
// a file of the holder's own, made fresh under a name nobody can guess, in the lock folder, and locked while
// it lasts. Another program trusts a record only while its maker still holds its lock and may open the
// controller itself; anything else in the lock folder (folders, links, FIFOs, other users' files) is
// ignored and never written to.
//
// On Windows the hold is a lock file per controller in the lock folder, which every local user may use,
// locked with LockFileEx and deleted when its last handle closes.
#pragma once

#include "portable/system.h"

#include <memory>
#include <optional>
#include <string>

class ControllerHold {
public:
    struct Attempt {
        std::unique_ptr<ControllerHold> hold;  // taken
        // Or refused, one of these saying why: who holds it, as the system names them
        // ("doorphonectl, process 1234 of user alice")...
        std::string heldBy;
        // ... or what keeps this program from holding it, and the way out.
        std::string error;
    };
    // Never waits. `key` names the controller wherever it is plugged in again ("usb-1-2", or its path
    // where the port is unknown); `node` is the path it is open at now. With `throughRestart` the hold
    // also keeps others off while the controller restarts (an install).
    static Attempt Take(const std::string& key, const std::string& node, bool throughRestart);
    // The same controller, back at `node` after its restart: the hold moves to it. Others that tried the
    // new node meanwhile see the record and let go at once, so this waits a moment (2 s at most) for them.
    // Refused as Take is, with `heldBy` or `error`; its `hold` is always empty.
    Attempt MoveTo(const std::string& node);
    // An install is about to begin: from now on the hold lasts through the restart. False, with the
    // reason in `error`, when no record can be made.
    bool KeepThroughRestart(std::string& error);
    ~ControllerHold();
    ControllerHold(const ControllerHold&) = delete;
    ControllerHold& operator=(const ControllerHold&) = delete;

    const std::string& Key() const { return key_; }
    const std::string& Node() const { return node_; }

    // Where records (Linux) and lock files (Windows) live: $DOORPHONECONFIG_LOCK_DIR when set (the emulator
    // gives each bench its own), else /run/lock, which every user may write on Debian, or
    // %ProgramData%\doorphoneconfig on Windows.
    static std::string Directory();

private:
    static std::string SystemDirectory();  // where the system keeps such files for every user
    using Native = portable::NativeFile;
    ControllerHold(std::string key, std::string node) : key_(std::move(key)), node_(std::move(node)) {}
    void LetGoOfNode();
    std::string key_;
    std::string node_;
    std::optional<Native> nodeLock_;    // the lock on the node (Linux) or the lock file (Windows)
    std::optional<Native> recordLock_;  // the record through a restart (Linux)
    std::string recordPath_;
};

// What both platforms' holds share.
namespace controller_hold {
// A file name from any key: letters, digits, '-' and '.' kept, everything else '_'.
std::string FileNameFor(const std::string& key);
// Text that came from elsewhere (a process name), safe to print: controls become '?'.
std::string Printable(std::string text);
}  // namespace controller_hold

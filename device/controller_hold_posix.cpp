// The hold on Linux: flock on the controller's hidraw node, and a record of the holder's own in the lock
// folder through an install's restart (see controller_hold.h).
#include "device/controller_hold.h"
#include "portable/file_lock.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

namespace {

std::string SystemText(int error)
{
    return std::strerror(error);
}

// The process that holds a flock on the file `st` describes, as the kernel lists it in /proc/locks.
std::optional<pid_t> FlockHolder(const struct stat& st)
{
    std::ifstream locks("/proc/locks");
    char id[64];
    std::snprintf(id, sizeof id, "%02x:%02x:%llu", major(st.st_dev), minor(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    std::string line;
    while (std::getline(locks, line)) {
        // "1: FLOCK  ADVISORY  WRITE 4711 fe:00:1234 0 EOF"; a waiter's line has "->" after the number.
        std::istringstream words(line);
        std::string number, kind, mode, access, pid, file;
        if (!(words >> number >> kind >> mode >> access >> pid >> file) || kind != "FLOCK" || access != "WRITE" ||
            file != id) {
            continue;
        }
        char* end = nullptr;
        const long value = std::strtol(pid.c_str(), &end, 10);
        if (*end == '\0' && value > 0) {
            return static_cast<pid_t>(value);
        }
    }
    return std::nullopt;
}

struct Credentials {
    uid_t uid = 0;  // the ids the kernel checks a file's access with
    gid_t gid = 0;
    std::vector<gid_t> groups;
};

std::optional<Credentials> CredentialsOf(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    Credentials c;
    bool uid = false, gid = false;
    while (std::getline(status, line)) {
        std::istringstream words(line);
        std::string field;
        words >> field;
        unsigned long real = 0, effective = 0, saved = 0, filesystem = 0;
        if (field == "Uid:" && (words >> real >> effective >> saved >> filesystem)) {
            c.uid = static_cast<uid_t>(filesystem);
            uid = true;
        } else if (field == "Gid:" && (words >> real >> effective >> saved >> filesystem)) {
            c.gid = static_cast<gid_t>(filesystem);
            gid = true;
        } else if (field == "Groups:") {
            for (unsigned long g; words >> g;) {
                c.groups.push_back(static_cast<gid_t>(g));
            }
        }
    }
    if (!uid || !gid) {
        return std::nullopt;
    }
    return c;
}

// Whether a process with `c` may open the node at `path` for reading and writing, as the kernel decides:
// its mode, or its access ACL where it has one (udev's uaccess gives the seat's user one).
bool MayOpen(const Credentials& c, const std::string& path)
{
    if (c.uid == 0) {
        return true;
    }
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        return false;
    }
    constexpr unsigned kReadWrite = 6;
    struct Entry {
        uint16_t tag;
        uint16_t perm;
        uint32_t id;
    };
    std::vector<Entry> acl;
    unsigned char raw[4 + 8 * 64];
    const ssize_t n = getxattr(path.c_str(), "system.posix_acl_access", raw, sizeof raw);
    for (ssize_t at = 4; n > 4 && at + 8 <= n; at += 8) {
        Entry e{};
        std::memcpy(&e.tag, raw + at, 2);
        std::memcpy(&e.perm, raw + at + 2, 2);
        std::memcpy(&e.id, raw + at + 4, 4);
        acl.push_back(e);
    }
    unsigned owner = (st.st_mode >> 6) & 7, group = (st.st_mode >> 3) & 7, other = st.st_mode & 7, mask = 7;
    enum : uint16_t { kUserObj = 1, kUser = 2, kGroupObj = 4, kGroup = 8, kMask = 0x10, kOther = 0x20 };
    for (const Entry& e : acl) {
        if (e.tag == kMask) {
            mask = e.perm;
        }
    }
    auto fits = [](unsigned perm) { return (perm & kReadWrite) == kReadWrite; };
    if (c.uid == st.st_uid) {
        return fits(owner);
    }
    for (const Entry& e : acl) {
        if (e.tag == kUser && e.id == c.uid) {
            return fits(e.perm & mask);
        }
    }
    auto member = [&](gid_t g) {
        return g == c.gid || std::find(c.groups.begin(), c.groups.end(), g) != c.groups.end();
    };
    bool matched = false;
    if (member(st.st_gid)) {
        matched = true;
        if (fits(group & mask)) {
            return true;
        }
    }
    for (const Entry& e : acl) {
        if (e.tag == kGroup && member(e.id)) {
            matched = true;
            if (fits(e.perm & mask)) {
                return true;
            }
        }
    }
    return !matched && fits(other);
}

// "doorphonectl, process 4711 of user alice", from the system's own account of the process.
std::string Describe(pid_t pid)
{
    const std::string proc = "/proc/" + std::to_string(pid);
    std::string name;
    std::getline(std::ifstream(proc + "/comm"), name);
    std::string text = name.empty() ? std::string() : controller_hold::Printable(name) + ", ";
    text += "process " + std::to_string(pid);
    if (const std::optional<Credentials> c = CredentialsOf(pid)) {
        struct passwd entry {};
        struct passwd* found = nullptr;
        char buffer[1024];
        const bool named = getpwuid_r(c->uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr;
        text += " of user " + (named ? controller_hold::Printable(found->pw_name) : std::to_string(c->uid));
    }
    return text;
}

std::string RecordPrefix(const std::string& key)
{
    std::string name = controller_hold::FileNameFor(key);
    name.resize(name.size() - std::strlen(".lock"));
    return name + ",";  // a character no key's file name has, so one key's records are never another's
}

bool IsRecordName(const std::string& name, const std::string& prefix)
{
    constexpr std::size_t kRandom = 8;
    if (name.size() != prefix.size() + kRandom + std::strlen(".lock") || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - 5, 5, ".lock") != 0) {
        return false;
    }
    for (std::size_t i = prefix.size(); i < prefix.size() + kRandom; ++i) {
        if (!std::isalnum(static_cast<unsigned char>(name[i]))) {
            return false;
        }
    }
    return true;
}

// Another program's record for `key` that holds: made by a process that still locks it, a plain file with
// one name, owned by that process's user, who may open the controller at `node`. Anything else in the
// folder is looked at without being opened and is never trusted. Records whose makers are gone are removed
// where this user may.
std::optional<pid_t> RecordHolder(const std::string& key, const std::string& node)
{
    const std::string folder = ControllerHold::Directory();
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) {
        return std::nullopt;  // no folder, no record
    }
    const std::string prefix = RecordPrefix(key);
    std::optional<pid_t> holder;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        struct stat st {};
        if (!IsRecordName(name, prefix) || fstatat(dirfd(dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(st.st_mode) || st.st_nlink != 1) {
            continue;
        }
        const std::optional<pid_t> pid = FlockHolder(st);
        if (!pid) {
            if (st.st_uid == geteuid() || geteuid() == 0) {
                unlinkat(dirfd(dir), name.c_str(), 0);  // its maker died holding it
            }
            continue;
        }
        if (*pid == getpid()) {
            continue;
        }
        const std::optional<Credentials> c = CredentialsOf(*pid);
        if (c && c->uid == st.st_uid && MayOpen(*c, node)) {
            holder = *pid;
            break;
        }
    }
    closedir(dir);
    return holder;
}

// The node opened for the hold itself: reading and writing, as a change needs, so only a user who may
// change the controller can lock it.
int OpenNode(const std::string& node, std::string& error)
{
    const int fd = open(node.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        error = "cannot open " + node + " to hold it: " + SystemText(errno);
        return -1;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
        close(fd);
        error = node + " is not a device node";
        return -1;
    }
    return fd;
}

// Locks the node open at `fd`; the holder's name in `heldBy` when another program holds it.
bool LockNode(int fd, std::string& heldBy, std::string& error)
{
    std::string reason;
    const portable::LockOutcome outcome = portable::LockOpenFile(fd, false, reason);
    if (outcome == portable::LockOutcome::Taken) {
        return true;
    }
    struct stat st {};
    if (outcome == portable::LockOutcome::Failed) {
        error = "cannot lock the controller's node: " + reason;
    } else if (fstat(fd, &st) == 0) {
        const std::optional<pid_t> pid = FlockHolder(st);
        heldBy = pid ? Describe(*pid) : std::string("another program");
    } else {
        heldBy = "another program";
    }
    return false;
}

}  // namespace

ControllerHold::Attempt ControllerHold::Take(const std::string& key, const std::string& node, bool throughRestart)
{
    Attempt attempt;
    const int fd = OpenNode(node, attempt.error);
    if (fd < 0) {
        return attempt;
    }
    if (!LockNode(fd, attempt.heldBy, attempt.error)) {
        close(fd);
        return attempt;
    }
    std::unique_ptr<ControllerHold> hold(new ControllerHold(key, node));
    hold->nodeLock_ = fd;
    // A program that holds this controller through its restart keeps it when it comes back.
    if (const std::optional<pid_t> pid = RecordHolder(key, node)) {
        attempt.heldBy = Describe(*pid);
        return attempt;
    }
    if (throughRestart && !hold->KeepThroughRestart(attempt.error)) {
        return attempt;
    }
    attempt.hold = std::move(hold);
    return attempt;
}

bool ControllerHold::KeepThroughRestart(std::string& error)
{
    if (recordLock_) {
        return true;
    }
    const std::string folder = Directory();
    const std::string way = " (the lock folder must be one every user of the controller may write; "
                            "DOORPHONECONFIG_LOCK_DIR names another)";
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device random;
    std::uniform_int_distribution<std::size_t> letter(0, sizeof kLetters - 2);
    for (int tries = 0; tries < 16; ++tries) {
        std::string name = RecordPrefix(key_);
        for (int i = 0; i < 8; ++i) {
            name += kLetters[letter(random)];
        }
        name += ".lock";
        const std::string path = folder + "/" + name;
        // Always a new file of this program's own: nothing already there is opened, followed or written.
        // Only its maker can open it; others see it in the folder and its lock in /proc/locks.
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            error = "cannot keep it through its restart: cannot make a record in " + folder + ": " + SystemText(errno) +
                    way;
            return false;
        }
        struct stat made {};
        struct stat now {};
        std::string unused;
        if (portable::LockOpenFile(fd, false, unused) != portable::LockOutcome::Taken || fstat(fd, &made) != 0 ||
            lstat(path.c_str(), &now) != 0 || now.st_ino != made.st_ino || now.st_dev != made.st_dev) {
            close(fd);  // taken for a dead one's and removed before it was locked: another name
            continue;
        }
        recordLock_ = fd;
        recordPath_ = path;
        return true;
    }
    error = "cannot keep it through its restart: no record of its own stays in " + folder + way;
    return false;
}

ControllerHold::Attempt ControllerHold::MoveTo(const std::string& node)
{
    Attempt attempt;
    const int fd = OpenNode(node, attempt.error);
    if (fd < 0) {
        return attempt;
    }
    struct stat fresh {};
    struct stat held {};
    if (nodeLock_ && fstat(fd, &fresh) == 0 && fstat(*nodeLock_, &held) == 0 && fresh.st_ino == held.st_ino &&
        fresh.st_dev == held.st_dev) {
        close(fd);  // the node this hold locks already
        return attempt;
    }
    // Another program that opened the new node first sees this hold's record and lets go at once.
    for (int tries = 0;; ++tries) {
        std::string heldBy;
        if (LockNode(fd, heldBy, attempt.error)) {
            break;
        }
        if (!attempt.error.empty() || tries == 40) {
            attempt.heldBy = heldBy;
            close(fd);
            return attempt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    LetGoOfNode();
    nodeLock_ = fd;
    node_ = node;
    return attempt;
}

void ControllerHold::LetGoOfNode()
{
    if (nodeLock_) {
        close(*nodeLock_);
        nodeLock_.reset();
    }
}

ControllerHold::~ControllerHold()
{
    if (recordLock_) {
        // Removed while still locked: nobody ever finds it unlocked under its name.
        unlink(recordPath_.c_str());
        close(*recordLock_);
    }
    LetGoOfNode();
}

std::string ControllerHold::SystemDirectory()
{
    return "/run/lock";
}

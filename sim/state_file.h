// The virtual controller's memory kept in a file between runs of the command-line tool. A run holds the
// file's lock from its start to its end, so two runs on one file take turns and neither loses the other's
// change; the file is replaced whole, and only when the memory changed.
#pragma once

#include "portable/file_lock.h"
#include "sim/memory.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace sim {

// The memory a state text describes, checked strictly: every field of its type and range, every text held
// to its setting's own entry rule. Nothing, with the field named in `error`, otherwise.
std::optional<Memory> ParseState(const std::string& text, std::string& error);
std::string FormatState(const Memory& memory);

class StateFile {
public:
    // Takes the lock (waiting for another run to finish, after calling `waiting` once) and reads the memory;
    // a missing file gives the factory memory. Null, with the reason, when the file cannot be used; a path
    // that is not a regular file (a folder, a device) is refused before any lock is made beside it.
    static std::unique_ptr<StateFile> Open(const std::string& path, std::string& error,
                                           const std::function<void()>& waiting = {});
    ~StateFile();
    StateFile(const StateFile&) = delete;
    StateFile& operator=(const StateFile&) = delete;

    const Memory& Loaded() const { return loaded_; }
    const std::string& Path() const { return path_; }
    // Writes `now` unless it is what was loaded.
    bool Save(const Memory& now, std::string& error);

private:
    StateFile(std::string path, std::unique_ptr<portable::FileLock> lock, Memory loaded);
    std::string path_;
    std::unique_ptr<portable::FileLock> lock_;
    Memory loaded_;
};

}  // namespace sim

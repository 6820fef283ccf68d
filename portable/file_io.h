// Reading and replacing small files (profiles, the virtual controller's state) so that a bad path gives a
// clear error instead of an exception, and a replaced file is never seen half written.
#pragma once

#include "portable/system.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

// The whole file, or nothing with the reason: missing, unreadable, not a regular file, or over `limit`.
std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t limit, std::string& error);

// Replaces the file (the target of a symlink, which stays a link) with `text`: a new file beside it, its
// data synced, renamed over the old one, the folder synced. The old file's mode is kept. Anything but a
// regular file at `path` (a device node, a FIFO, a folder) is refused and left as it is.
bool ReplaceFileText(const std::string& path, const std::string& text, std::string& error);

// Why `path` may not be read or replaced as a file: empty when nothing is there (yet) or it is a regular file,
// itself or through symlinks; else "it is a folder", "it is a device", "it is a FIFO", ... or the system's text.
std::string NotARegularFile(const std::string& path);

// A log file opened to append to (made when missing), or null with the reason. Never blocks: a FIFO that
// nobody reads is refused now rather than hanging the program, here or later.
std::FILE* OpenForAppending(const std::string& path, std::string& error);

// A regular file that records are added to, each in one write that lands whole at the end and is synced to the
// disk, so the records of two programs never interleave within one.
class AppendOnlyFile {
public:
    // Made when missing. Null, with the reason, when it cannot be opened or is no regular file; never blocks
    // on a FIFO.
    static std::unique_ptr<AppendOnlyFile> Open(const std::string& path, std::string& error);
    ~AppendOnlyFile();
    AppendOnlyFile(const AppendOnlyFile&) = delete;
    AppendOnlyFile& operator=(const AppendOnlyFile&) = delete;

    bool Append(const std::string& record, std::string& error);

private:
    using Native = portable::NativeFile;
    explicit AppendOnlyFile(Native native) : native_(native) {}
    Native native_;
};

// True only when nothing is at `path`; a path that cannot be looked at (no permission) may be something.
bool Missing(const std::string& path);

// The file a path ends at once every symlink is followed; the path itself when it is no link.
std::string FinalPath(const std::string& path);

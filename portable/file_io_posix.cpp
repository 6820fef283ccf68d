#include "portable/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::string Folder(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t limit, std::string& error)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = std::strerror(errno);
        return std::nullopt;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = S_ISDIR(st.st_mode) ? "it is a folder" : "not a regular file";
        close(fd);
        return std::nullopt;
    }
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error = std::strerror(errno);
            close(fd);
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > limit) {
            error = "larger than " + std::to_string(limit / 1024) + " KiB";
            close(fd);
            return std::nullopt;
        }
    }
    close(fd);
    return text;
}

std::FILE* OpenForAppending(const std::string& path, std::string& error)
{
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = errno == ENXIO ? "a FIFO that nobody reads" : std::strerror(errno);
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "a");
    if (!file) {
        error = std::strerror(errno);
        close(fd);
    }
    return file;
}

std::unique_ptr<AppendOnlyFile> AppendOnlyFile::Open(const std::string& path, std::string& error)
{
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0644);
    if (fd < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        error = "not a regular file";
        return nullptr;
    }
    return std::unique_ptr<AppendOnlyFile>(new AppendOnlyFile(fd));
}

AppendOnlyFile::~AppendOnlyFile()
{
    close(native_);
}

bool AppendOnlyFile::Append(const std::string& record, std::string& error)
{
    const ssize_t n = write(native_, record.data(), record.size());
    if (n != static_cast<ssize_t>(record.size())) {
        error = n < 0 ? std::strerror(errno) : "the line was cut short";
        return false;
    }
    if (fdatasync(native_) != 0) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

bool Missing(const std::string& path)
{
    return access(path.c_str(), F_OK) != 0 && errno == ENOENT;
}

std::string FinalPath(const std::string& path)
{
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        std::vector<char> target(4096);
        const ssize_t n = readlink(current.c_str(), target.data(), target.size() - 1);
        if (n < 0) {
            return current;
        }
        const std::string next(target.data(), static_cast<std::size_t>(n));
        current = next.front() == '/' ? next : Folder(current) + "/" + next;
    }
    return current;
}

std::string NotARegularFile(const std::string& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        return errno == ENOENT ? std::string() : std::string(std::strerror(errno));
    }
    if (S_ISREG(st.st_mode)) {
        return {};
    }
    if (S_ISDIR(st.st_mode)) {
        return "it is a folder";
    }
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) {
        return "it is a device";
    }
    if (S_ISFIFO(st.st_mode)) {
        return "it is a FIFO";
    }
    if (S_ISSOCK(st.st_mode)) {
        return "it is a socket";
    }
    return "not a regular file";
}

bool ReplaceFileText(const std::string& path, const std::string& text, std::string& error)
{
    if (std::string why = NotARegularFile(path); !why.empty()) {
        error = why;
        return false;
    }
    const std::string target = FinalPath(path);
    const std::string folder = Folder(target);
    std::string temporary = folder + "/.doorphoneconfig-XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    struct stat old {};
    mode_t mode = 0644;
    if (stat(target.c_str(), &old) == 0) {
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    const bool written = WriteAll(fd, text) && fchmod(fd, mode) == 0 && fsync(fd) == 0;
    const int writeErrno = errno;
    if (close(fd) != 0 || !written) {
        error = std::strerror(written ? errno : writeErrno);
        unlink(temporary.c_str());
        return false;
    }
    if (rename(temporary.c_str(), target.c_str()) != 0) {
        error = std::strerror(errno);
        unlink(temporary.c_str());
        return false;
    }
    // The rename lasts only once the folder's entry is on disk too.
    const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

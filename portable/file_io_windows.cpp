// Files on Windows: wide-character calls for UTF-8 paths, and a replacement by MoveFileEx, since rename() does
// not replace a file that exists there.
#include "portable/file_io.h"
#include "portable/windows_text.h"

#include <windows.h>

#include <cerrno>
#include <cstring>
#include <random>

namespace {

std::size_t LastSeparator(const std::string& path)
{
    return path.find_last_of("/\\");
}

std::string Folder(const std::string& path)
{
    const std::size_t slash = LastSeparator(path);
    return slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
}

struct Handle {
    HANDLE h = INVALID_HANDLE_VALUE;
    ~Handle()
    {
        if (h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
        }
    }
};

// What kind of thing an open handle is, in the words the Linux build uses.
std::string KindOf(HANDLE h)
{
    switch (GetFileType(h)) {
    case FILE_TYPE_DISK:
        return {};
    case FILE_TYPE_CHAR:
        return "it is a device";
    case FILE_TYPE_PIPE:
        return "it is a FIFO";
    default:
        return "not a regular file";
    }
}

}  // namespace

std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t limit, std::string& error)
{
    if (std::string why = NotARegularFile(path); !why.empty()) {
        error = why;
        return std::nullopt;
    }
    Handle file{CreateFileW(portable::Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (file.h == INVALID_HANDLE_VALUE) {
        error = GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND
                    ? "No such file or directory"
                    : portable::SystemErrorText(GetLastError());
        return std::nullopt;
    }
    if (std::string why = KindOf(file.h); !why.empty()) {
        error = why;
        return std::nullopt;
    }
    std::string text;
    char buffer[65536];
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(file.h, buffer, sizeof buffer, &n, nullptr)) {
            error = portable::SystemErrorText(GetLastError());
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        text.append(buffer, n);
        if (text.size() > limit) {
            error = "larger than " + std::to_string(limit / 1024) + " KiB";
            return std::nullopt;
        }
    }
    return text;
}

std::FILE* OpenForAppending(const std::string& path, std::string& error)
{
    if (std::string why = NotARegularFile(path); !why.empty() && why != "it is a device") {
        error = why;  // a device (NUL, a console) takes a log as on Linux
        return nullptr;
    }
    std::FILE* file = _wfopen(portable::Widen(path).c_str(), L"ab");
    if (!file) {
        error = std::strerror(errno);
    }
    return file;
}

std::unique_ptr<AppendOnlyFile> AppendOnlyFile::Open(const std::string& path, std::string& error)
{
    if (std::string why = NotARegularFile(path); !why.empty()) {
        error = why == "it is a folder" ? why : "not a regular file";
        return nullptr;
    }
    // Append access only: Windows puts every write at the end, whoever else writes.
    const HANDLE file = CreateFileW(portable::Widen(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = portable::SystemErrorText(GetLastError());
        return nullptr;
    }
    return std::unique_ptr<AppendOnlyFile>(new AppendOnlyFile(file));
}

AppendOnlyFile::~AppendOnlyFile()
{
    CloseHandle(native_);
}

bool AppendOnlyFile::Append(const std::string& record, std::string& error)
{
    DWORD n = 0;
    if (!WriteFile(native_, record.data(), static_cast<DWORD>(record.size()), &n, nullptr)) {
        error = portable::SystemErrorText(GetLastError());
        return false;
    }
    if (n != record.size()) {
        error = "the line was cut short";
        return false;
    }
    if (!FlushFileBuffers(native_)) {
        error = portable::SystemErrorText(GetLastError());
        return false;
    }
    return true;
}

bool Missing(const std::string& path)
{
    if (GetFileAttributesW(portable::Widen(path).c_str()) != INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
}

std::string FinalPath(const std::string& path)
{
    return path;  // links are rare on Windows, and MoveFileEx replaces the link itself
}

std::string NotARegularFile(const std::string& path)
{
    const DWORD attributes = GetFileAttributesW(portable::Widen(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
            return {};
        }
        // Device names (NUL, COM1, CON) have no attributes on some systems: open it and ask.
        Handle h{CreateFileW(portable::Widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                             nullptr)};
        return h.h == INVALID_HANDLE_VALUE ? portable::SystemErrorText(code) : KindOf(h.h);
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        return "it is a folder";
    }
    Handle h{CreateFileW(portable::Widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr)};
    return h.h == INVALID_HANDLE_VALUE ? std::string() : KindOf(h.h);
}

bool ReplaceFileText(const std::string& path, const std::string& text, std::string& error)
{
    if (std::string why = NotARegularFile(path); !why.empty()) {
        error = why;
        return false;
    }
    std::random_device random;
    std::wstring temporary;
    Handle file;
    for (int attempt = 0; attempt < 16 && file.h == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = portable::Widen(Folder(path) + "\\.doorphoneconfig-" + std::to_string(random()));
        file.h = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file.h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
            break;
        }
    }
    if (file.h == INVALID_HANDLE_VALUE) {
        error = portable::SystemErrorText(GetLastError());
        return false;
    }
    std::size_t done = 0;
    while (done < text.size()) {
        DWORD n = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 1 << 20));
        if (!WriteFile(file.h, text.data() + done, chunk, &n, nullptr) || n == 0) {
            break;
        }
        done += n;
    }
    const bool written = done == text.size() && FlushFileBuffers(file.h);
    const DWORD code = GetLastError();
    CloseHandle(file.h);
    file.h = INVALID_HANDLE_VALUE;
    if (!written) {
        error = portable::SystemErrorText(code);
        DeleteFileW(temporary.c_str());
        return false;
    }
    if (!MoveFileExW(temporary.c_str(), portable::Widen(path).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = portable::SystemErrorText(GetLastError());
        DeleteFileW(temporary.c_str());
        return false;
    }
    return true;
}

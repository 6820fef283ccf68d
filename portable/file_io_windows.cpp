// Files on Windows: wide-character calls for UTF-8 paths (long ones too), and a replacement by MoveFileEx, since
// rename() does not replace a file that exists there.
#include "portable/file_io.h"
#include "portable/windows_text.h"

#include <windows.h>
#include <restartmanager.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>
#include <vector>

namespace {

// What goes in front of a file's own name: the path up to its last separator, or its drive ("C:" of
// "C:x.json", which names the current folder of drive C), or nothing. A file beside the one at `path` is
// named by this and its own name, whether the folder is the root of a drive ("\\", "/", "C:\\"), a share or
// the current folder.
std::string FolderPrefix(const std::string& path)
{
    const std::size_t slash = path.find_last_of("/\\");
    if (slash != std::string::npos) {
        return path.substr(0, slash + 1);
    }
    if (path.size() >= 2 && path[1] == ':') {
        return path.substr(0, 2);
    }
    return {};
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

// How long a replacement keeps trying while another program has the file open: a virus scanner, the search
// indexer or a sync client opens a file just written for a moment, and without delete sharing; the tools
// that replace files on Windows wait about this long for them.
constexpr ULONGLONG kSharingRetryMs = 1000;

bool HeldByAnother(DWORD code)
{
    // A file open without delete sharing is "Access is denied" to a rename over it, as a file one may not
    // replace is; the retry costs a refused one only the wait.
    return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION || code == ERROR_ACCESS_DENIED;
}

// The programs that have the file open, as the Restart Manager names them ("Notepad (process 4242)"), or
// nothing when it cannot tell.
std::string ProgramsHolding(const std::wstring& path)
{
    DWORD session = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    if (RmStartSession(&session, 0, key) != ERROR_SUCCESS) {
        return {};
    }
    std::string names;
    LPCWSTR files[] = {path.c_str()};
    if (RmRegisterResources(session, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS) {
        std::vector<RM_PROCESS_INFO> programs(4);
        for (int attempt = 0; attempt < 3; ++attempt) {
            UINT needed = 0;
            UINT count = static_cast<UINT>(programs.size());
            DWORD reasons = 0;
            const DWORD result = RmGetList(session, &needed, &count, programs.data(), &reasons);
            if (result == ERROR_MORE_DATA) {
                programs.resize(needed);
                continue;
            }
            for (UINT i = 0; result == ERROR_SUCCESS && i < count; ++i) {
                const std::string name = portable::Narrow(programs[i].strAppName);
                names += (names.empty() ? "" : ", ") + (name.empty() ? std::string("a program") : name) + " (process " +
                         std::to_string(programs[i].Process.dwProcessId) + ")";
            }
            break;
        }
    }
    RmEndSession(session);
    return names;
}

// Renames `from` over `to`, trying again for a while as long as another program has `to` open; then says
// which programs hold it, where Windows can tell.
bool MoveOver(const std::wstring& from, const std::wstring& to, std::string& error)
{
    const ULONGLONG start = GetTickCount64();
    DWORD pause = 10;
    for (;;) {
        if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return true;
        }
        const DWORD code = GetLastError();
        const DWORD attributes = GetFileAttributesW(to.c_str());
        const bool readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
        if (!HeldByAnother(code) || readOnly) {
            error = readOnly ? "it is read-only" : portable::SystemErrorText(code);
            return false;
        }
        if (GetTickCount64() - start >= kSharingRetryMs) {
            error = portable::SystemErrorText(code);
            const std::string holders = ProgramsHolding(to);
            if (!holders.empty()) {
                error += ": it is open in " + holders + "; close it there and try again";
            } else if (code == ERROR_ACCESS_DENIED) {
                error += " (another program may have the file open; if so, close it there and try again)";
            } else {
                error += ": another program has the file open; close it there and try again";
            }
            return false;
        }
        Sleep(pause);
        pause = std::min<DWORD>(pause * 2, 100);
    }
}

}  // namespace

std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t limit, std::string& error)
{
    if (std::string why = NotARegularFile(path); !why.empty()) {
        error = why;
        return std::nullopt;
    }
    Handle file{CreateFileW(portable::WidePath(path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr)};
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
    std::FILE* file = _wfopen(portable::WidePath(path).c_str(), L"ab");
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
    const HANDLE file =
        CreateFileW(portable::WidePath(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
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
    if (GetFileAttributesW(portable::WidePath(path).c_str()) != INVALID_FILE_ATTRIBUTES) {
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
    const DWORD attributes = GetFileAttributesW(portable::WidePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
            return {};
        }
        // Device names (NUL, COM1, CON) have no attributes on some systems: open it and ask.
        Handle h{CreateFileW(portable::WidePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr)};
        return h.h == INVALID_HANDLE_VALUE ? portable::SystemErrorText(code) : KindOf(h.h);
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        return "it is a folder";
    }
    Handle h{CreateFileW(portable::WidePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, 0, nullptr)};
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
        temporary = portable::WidePath(FolderPrefix(path) + ".doorphoneconfig-" + std::to_string(random()));
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
    const std::wstring target = portable::WidePath(path);
    if (!MoveOver(temporary, target, error)) {
        DeleteFileW(temporary.c_str());
        return false;
    }
    return true;
}

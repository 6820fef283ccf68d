// The hold on Windows: LockFileEx on a lock file, which Windows lets go of when the holder's handle closes
// or its process ends. The lock covers one byte far beyond the holder's name, so others can still read the
// name. The file stays after release: a removal could race with the next opener, as it cannot on Linux,
// and a stale name is never shown, since it is read only while someone holds the lock.
#include "device/controller_hold.h"
#include "portable/windows_text.h"

#include <windows.h>

namespace {

constexpr DWORD kLockOffset = 0x40000000;

OVERLAPPED LockRange()
{
    OVERLAPPED range{};
    range.Offset = kLockOffset;
    return range;
}

std::string ReadHolder(HANDLE file)
{
    char text[256];
    OVERLAPPED start{};
    DWORD n = 0;
    if (!ReadFile(file, text, sizeof text - 1, &n, &start)) {
        n = 0;
    }
    return controller_hold::HolderFromFile(std::string(text, n));
}

}  // namespace

ControllerHold::Attempt ControllerHold::Take(const std::string& key, const std::string& me)
{
    Attempt attempt;
    const std::string folder = Directory();
    CreateDirectoryW(portable::Widen(folder).c_str(), nullptr);  // there already, most often
    const std::string path = folder + "\\" + controller_hold::FileNameFor(key);
    const HANDLE file = CreateFileW(portable::Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        attempt.error = "cannot make the lock " + path + ": " + portable::SystemErrorText(GetLastError());
        return attempt;
    }
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        attempt.error = "the lock " + path + " is not a regular file";
        return attempt;
    }
    OVERLAPPED range = LockRange();
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range)) {
        const DWORD code = GetLastError();
        if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) {
            attempt.heldBy = ReadHolder(file);
        } else {
            attempt.error = "cannot lock " + path + ": " + portable::SystemErrorText(code);
        }
        CloseHandle(file);
        return attempt;
    }
    const std::string name = me + ", process " + std::to_string(GetCurrentProcessId()) + "\n";
    DWORD written = 0;
    OVERLAPPED start{};
    if (WriteFile(file, name.data(), static_cast<DWORD>(name.size()), &written, &start)) {
        LARGE_INTEGER end{};
        end.QuadPart = written;
        SetFilePointerEx(file, end, nullptr, FILE_BEGIN);
        SetEndOfFile(file);  // nothing of a longer earlier name stays behind it
    }
    attempt.hold.reset(new ControllerHold(key, path, file));
    return attempt;
}

ControllerHold::~ControllerHold()
{
    OVERLAPPED range = LockRange();
    UnlockFileEx(lock_, 0, 1, 0, &range);
    CloseHandle(lock_);
}

// The lock on Windows: LockFileEx on a file opened by its wide-character path.
#include "portable/file_lock.h"
#include "portable/windows_text.h"

#include <windows.h>

namespace portable {

LockOutcome LockOpenFile(NativeFile file, bool wait, std::string& error)
{
    OVERLAPPED range{};
    range.Offset = 0x40000000;  // far beyond any process number or state a lock file holds
    if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY), 0, 1, 0, &range)) {
        return LockOutcome::Taken;
    }
    const DWORD code = GetLastError();
    if (!wait && (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING)) {
        return LockOutcome::HeldElsewhere;
    }
    error = SystemErrorText(code);
    return LockOutcome::Failed;
}

bool FileLock::Open(const std::string& path, bool create, Native& file, std::string& error)
{
    file = CreateFileW(WidePath(path).c_str(), create ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = SystemErrorText(GetLastError());
        return false;
    }
    return true;
}

void FileLock::Close(Native file)
{
    CloseHandle(file);
}

}  // namespace portable

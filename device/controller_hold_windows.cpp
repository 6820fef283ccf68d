// The hold on Windows: LockFileEx on a lock file per controller in the lock folder, which Windows lets go of
// when the holder's handle closes or its process ends. Every local user may open a HID controller on
// Windows, so every local user may also hold one: the folder is made with rights that let every user make,
// lock and delete lock files in it, and each lock file is opened to be deleted with its last handle, so
// nothing is left behind for the next user, whoever made it. The holder writes only its process number,
// which the system then names.
#include "device/controller_hold.h"
#include "portable/file_lock.h"
#include "portable/windows_text.h"

#include <windows.h>

#include <sddl.h>

#include <cstdlib>
#include <thread>

namespace {

// The folder, made on first use with rights for every user: full control for the system and the
// administrators, and for every user to read, write and delete the files in it.
void MakeFolder(const std::wstring& folder)
{
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof attributes;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;BU)(A;OICI;0x1301bf;;;AU)", SDDL_REVISION_1,
            &descriptor, nullptr)) {
        attributes.lpSecurityDescriptor = descriptor;
    }
    CreateDirectoryW(folder.c_str(), descriptor != nullptr ? &attributes : nullptr);  // there already, most often
    if (descriptor != nullptr) {
        LocalFree(descriptor);
    }
}

// "doorphonectl.exe, process 1234": the process number the holder wrote, named by the system.
std::string DescribeHolder(HANDLE file)
{
    char text[32];
    OVERLAPPED start{};
    DWORD n = 0;
    if (!ReadFile(file, text, sizeof text - 1, &n, &start)) {
        n = 0;
    }
    DWORD pid = 0;
    for (DWORD i = 0; i < n && text[i] >= '0' && text[i] <= '9' && pid < 100000000; ++i) {
        pid = pid * 10 + static_cast<DWORD>(text[i] - '0');
    }
    if (pid == 0) {
        return "another program";
    }
    std::string name;
    if (HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid)) {
        wchar_t image[MAX_PATH];
        DWORD length = MAX_PATH;
        if (QueryFullProcessImageNameW(process, 0, image, &length)) {
            std::wstring path(image, length);
            name = portable::Narrow(path.substr(path.find_last_of(L"\\/") + 1));
        }
        CloseHandle(process);
    }
    return (name.empty() ? std::string() : controller_hold::Printable(name) + ", ") + "process " + std::to_string(pid);
}

}  // namespace

ControllerHold::Attempt ControllerHold::Take(const std::string& key, const std::string& node, bool)
{
    Attempt attempt;
    const std::string folder = Directory();
    MakeFolder(portable::Widen(folder));
    const std::string path = folder + "\\" + controller_hold::FileNameFor(key);
    HANDLE file = INVALID_HANDLE_VALUE;
    bool own = true;  // opened to be deleted with its last handle
    // A file its last holder just closed is being deleted: a new one can be made a moment later.
    for (int tries = 0; tries < 50 && file == INVALID_HANDLE_VALUE; ++tries) {
        file = CreateFileW(portable::Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
            // Made in a folder of older rights by another user, who holds it: reading is enough to see
            // the lock and to take it once that holder is gone.
            file = CreateFileW(portable::Widen(path).c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
            own = false;
        }
        if (file == INVALID_HANDLE_VALUE) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    if (file == INVALID_HANDLE_VALUE) {
        attempt.error = "cannot make the lock " + path + ": " + portable::SystemErrorText(GetLastError());
        return attempt;
    }
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        attempt.error = "the lock " + path + " is not a file";
        return attempt;
    }
    std::string reason;
    const portable::LockOutcome outcome = portable::LockOpenFile(file, false, reason);
    if (outcome != portable::LockOutcome::Taken) {
        if (outcome == portable::LockOutcome::HeldElsewhere) {
            attempt.heldBy = DescribeHolder(file);
        } else {
            attempt.error = "cannot lock " + path + ": " + reason;
        }
        CloseHandle(file);
        return attempt;
    }
    if (own) {
        const std::string pid = std::to_string(GetCurrentProcessId());
        DWORD written = 0;
        OVERLAPPED start{};
        if (WriteFile(file, pid.data(), static_cast<DWORD>(pid.size()), &written, &start)) {
            LARGE_INTEGER end{};
            end.QuadPart = written;
            SetFilePointerEx(file, end, nullptr, FILE_BEGIN);
            SetEndOfFile(file);
        }
    }
    std::unique_ptr<ControllerHold> hold(new ControllerHold(key, node));
    hold->nodeLock_ = file;
    attempt.hold = std::move(hold);
    return attempt;
}

bool ControllerHold::KeepThroughRestart(std::string&)
{
    return true;  // the lock file is the controller's wherever it is plugged in again
}

ControllerHold::Attempt ControllerHold::MoveTo(const std::string& node)
{
    node_ = node;
    return {};
}

void ControllerHold::LetGoOfNode()
{
    if (nodeLock_) {
        CloseHandle(*nodeLock_);  // which lets go of the lock, and the file goes with its last handle
        nodeLock_.reset();
    }
}

ControllerHold::~ControllerHold()
{
    LetGoOfNode();
}

std::string ControllerHold::SystemDirectory()
{
    // Shared by every user of the machine, as /run/lock is on Linux; made on first use.
    const char* data = std::getenv("ProgramData");
    return std::string(data != nullptr && data[0] != '\0' ? data : "C:\\ProgramData") + "\\doorphoneconfig";
}

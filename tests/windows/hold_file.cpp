// hold_file: holds a file open the way another program does that a replacement must wait for (reading and
// writing, sharing both but not deletion, as cmd's redirection, an editor or a virus scanner opens it), runs a
// program meanwhile, and exits with that program's status.
//
//   hold_file FILE release PROGRAM [ARG...]  lets FILE go a moment after PROGRAM has made the file it means
//                                            to put in FILE's place (a ".doorphoneconfig-" file beside it)
//   hold_file FILE keep PROGRAM [ARG...]     holds FILE until PROGRAM has ended
#include "portable/windows_text.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

namespace {

// One argument as CommandLineToArgvW reads it back: in quotes, a backslash run before a quote doubled.
std::wstring Quoted(const std::wstring& arg)
{
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

std::wstring FolderOf(const std::wstring& path)
{
    const std::size_t slash = path.find_last_of(L"/\\");
    return slash == std::wstring::npos ? L"." : path.substr(0, slash);
}

bool TemporaryBeside(const std::wstring& folder)
{
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW((folder + L"\\.doorphoneconfig-*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return false;
    }
    FindClose(search);
    return true;
}

}  // namespace

int main()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr || argc < 4 || (std::wstring(argv[2]) != L"release" && std::wstring(argv[2]) != L"keep")) {
        std::fprintf(stderr, "usage: hold_file FILE release|keep PROGRAM [ARG...]\n");
        return 125;
    }
    const std::wstring file = argv[1];
    const bool release = std::wstring(argv[2]) == L"release";
    HANDLE held = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "hold_file: cannot open %s: %s\n", portable::Narrow(file).c_str(),
                     portable::SystemErrorText(GetLastError()).c_str());
        return 125;
    }
    std::wstring commandLine;
    for (int i = 3; i < argc; ++i) {
        commandLine += (i > 3 ? L" " : L"") + Quoted(argv[i]);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        std::fprintf(stderr, "hold_file: cannot start %s: %s\n", portable::Narrow(argv[3]).c_str(),
                     portable::SystemErrorText(GetLastError()).c_str());
        return 125;
    }
    if (release) {
        // The program's first attempt to put its file in place comes at once after the file is made: held then.
        const std::wstring folder = FolderOf(file);
        while (!TemporaryBeside(folder) && WaitForSingleObject(process.hProcess, 1) == WAIT_TIMEOUT) {}
        Sleep(150);
        CloseHandle(held);
        held = INVALID_HANDLE_VALUE;
        std::printf("released\n");
        std::fflush(stdout);
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 125;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (held != INVALID_HANDLE_VALUE) {
        CloseHandle(held);
    }
    LocalFree(argv);
    return static_cast<int>(status);
}

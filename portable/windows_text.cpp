#include "portable/windows_text.h"

#include <windows.h>

namespace portable {

std::wstring Widen(const std::string& utf8)
{
    if (utf8.empty()) {
        return {};
    }
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::wstring WidePath(const std::string& utf8)
{
    std::wstring path = Widen(utf8);
    // CreateDirectory's limit is 12 below MAX_PATH; the rest take MAX_PATH less the closing zero.
    if (path.size() < MAX_PATH - 12 || path.rfind(L"\\\\?\\", 0) == 0 || path.rfind(L"\\\\.\\", 0) == 0) {
        return path;
    }
    // The prefix turns off every rewriting of the path, so the full path's own spelling goes after it:
    // backslashes only, no "." or "..", absolute.
    const DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (n == 0) {
        return path;
    }
    std::wstring full(n, L'\0');
    const DWORD written = GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
    if (written == 0 || written >= n) {
        return path;
    }
    full.resize(written);
    if (full.rfind(L"\\\\", 0) == 0) {
        return L"\\\\?\\UNC\\" + full.substr(2);  // \\server\share\... becomes \\?\UNC\server\share\...
    }
    return L"\\\\?\\" + full;
}

std::string Narrow(const wchar_t* utf16)
{
    return utf16 ? Narrow(std::wstring(utf16)) : std::string();
}

std::string Narrow(const std::wstring& utf16)
{
    if (utf16.empty()) {
        return {};
    }
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::string SystemErrorText(unsigned long code)
{
    wchar_t* text = nullptr;
    const DWORD n =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string out = n ? Narrow(std::wstring(text, n)) : "error " + std::to_string(code);
    if (text) {
        LocalFree(text);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.')) {
        out.pop_back();
    }
    return out;
}

}  // namespace portable

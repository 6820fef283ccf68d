// Windows speaks UTF-16; the rest of the program speaks UTF-8. Windows only.
#pragma once

#include <string>

namespace portable {

std::wstring Widen(const std::string& utf8);
// A file's path for the wide file calls: as Widen gives it, and, when it is longer than the old 260-character
// limit allows, made absolute and given the \\?\ prefix, so that it opens whether or not long paths are
// enabled on the machine.
std::wstring WidePath(const std::string& utf8);
std::string Narrow(const std::wstring& utf16);
std::string Narrow(const wchar_t* utf16);
// The system's text for an error code (GetLastError), in UTF-8, without a closing full stop or line break.
std::string SystemErrorText(unsigned long code);

}  // namespace portable

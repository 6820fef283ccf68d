// Text between the Windows wide-character calls and the rest of the program, which speaks UTF-8.
#pragma once

#include <string>

std::string Utf8FromWide(const wchar_t* text);
std::wstring WideFromUtf8(const std::string& text);

// The system's message for a Windows error code, in UTF-8 without the trailing line break.
std::string SystemErrorText(unsigned long code);

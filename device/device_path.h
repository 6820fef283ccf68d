// Whether two device paths name the same interface. Windows spells one path in different letter cases
// (SetupAPI lists "\\?\hid#vid_2e5a...", a device notification says "\\?\HID#VID_2E5A..."), so there the
// comparison ignores the case of ASCII letters; Linux paths are compared exactly.
#pragma once

#include <string>

inline bool SameDevicePath(const std::string& a, const std::string& b)
{
#ifdef _WIN32
    if (a.size() != b.size()) {
        return false;
    }
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    for (std::string::size_type i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
#else
    return a == b;
#endif
}

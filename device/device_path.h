// The one spelling of a device path that the rest of the program compares, keeps in sets and shows. Windows
// spells one interface in different letter cases (SetupAPI lists "\\?\hid#vid_2e5a...", a device notification
// says "\\?\HID#VID_2E5A...") and treats them alike, so its backend hands out every path in lower case, and a
// path the user types is put the same way; Linux paths stay exactly as they are.
#pragma once

#include "portable/system.h"

#include <string>

inline std::string CanonicalDevicePath(std::string path)
{
    if constexpr (portable::kWindows) {
        for (char& c : path) {
            if (c >= 'A' && c <= 'Z') {
                c = static_cast<char>(c - 'A' + 'a');
            }
        }
    }
    return path;
}

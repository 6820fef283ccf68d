#include "device/controller_hold.h"

#include <cstdlib>

namespace controller_hold {

std::string FileNameFor(const std::string& key)
{
    std::string name = "doorphoneconfig-";
    for (char c : key) {
        const bool plain =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
        name += plain ? c : '_';
    }
    return name + ".lock";
}

std::string Printable(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = '?';  // nothing of it reaches a terminal as a control
        }
    }
    return text;
}

}  // namespace controller_hold

std::string ControllerHold::Directory()
{
    const char* dir = std::getenv("DOORPHONECONFIG_LOCK_DIR");
    if (dir != nullptr && dir[0] != '\0') {
        return dir;
    }
    return SystemDirectory();
}

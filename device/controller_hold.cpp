#include "device/controller_hold.h"

#include <cstdlib>

namespace controller_hold {

std::string FileNameFor(const std::string& key)
{
    std::string name = "doorphoneconfig-";
    for (char c : key) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
        name += plain ? c : '_';
    }
    return name + ".lock";
}

std::string HolderFromFile(std::string holder)
{
    while (!holder.empty() && (holder.back() == '\n' || holder.back() == '\r' || holder.back() == '\0')) {
        holder.pop_back();
    }
    for (char& c : holder) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = '?';  // the file is anyone's to write: nothing of it reaches a terminal as a control
        }
    }
    return holder.empty() ? "another program" : holder;
}

}  // namespace controller_hold

std::string ControllerHold::Directory()
{
    const char* dir = std::getenv("DOORPHONECONFIG_LOCK_DIR");
    if (dir != nullptr && dir[0] != '\0') {
        return dir;
    }
#ifdef _WIN32
    // Shared by every user of the machine, as /run/lock is on Linux; made on first use.
    const char* data = std::getenv("ProgramData");
    return std::string(data != nullptr && data[0] != '\0' ? data : "C:\\ProgramData") + "\\doorphoneconfig";
#else
    return "/run/lock";
#endif
}

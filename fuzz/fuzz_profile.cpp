// A profile's text as import reads it: its checks, then the write order against the factory settings.
#include "cli/profile.h"
#include "settings/setting_value.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const ProfileContents contents = ReadProfileText(std::string(reinterpret_cast<const char*>(data), size));
    if (contents.errors.empty()) {
        SettingsSnapshot now;  // every byte zero: each choice at its first entry
        OrderForWriting(contents.values, now);
    }
    for (const std::string& e : contents.errors) {
        if (e.size() > 400) {
            __builtin_trap();  // a message must quote at most an excerpt of the input
        }
    }
    return 0;
}

// The settings and string-pool reports as a controller might answer them: every value decoded and shown.
#include "settings/snapshot.h"
#include "settings/text_encoding.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    SettingsSnapshot s;
    const std::size_t first = std::min(size, s.settings.size());
    std::copy_n(data, first, s.settings.begin());
    std::copy_n(data + first, std::min(size - first, s.pool.size()), s.pool.begin());
    for (const CatalogueEntry& e : ParameterCatalogue()) {
        const std::string text = s.ValueText(e);
        Utf8ToLatin1(Latin1ToUtf8(text));
        Printable(text);
        s.Allows(e);
    }
    return 0;
}

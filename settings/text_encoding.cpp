#include "settings/text_encoding.h"

#include "device/reports.h"

#include <cstdint>
#include <cstdio>

std::string Latin1ToUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out.push_back(c);
        } else {
            out.push_back(static_cast<char>(0xC0 | (b >> 6)));
            out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
        }
    }
    return out;
}

std::optional<std::string> Utf8ToLatin1(std::string_view utf8)
{
    std::string out;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        if (b < 0x80) {
            out.push_back(static_cast<char>(b));
            continue;
        }
        // Only the two-byte forms of U+0080..U+00FF, lead byte 0xC2 or 0xC3.
        if ((b != 0xC2 && b != 0xC3) || i + 1 >= utf8.size()) {
            return std::nullopt;
        }
        const auto next = static_cast<unsigned char>(utf8[i + 1]);
        if ((next & 0xC0) != 0x80) {
            return std::nullopt;
        }
        out.push_back(static_cast<char>(((b & 0x1F) << 6) | (next & 0x3F)));
        ++i;
    }
    return out;
}

std::string EntryText(std::string_view utf8)
{
    std::string out;
    std::size_t i = 0;
    while (i < utf8.size() && out.size() < report::kEntryTextCapacity) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        // The length of the sequence the lead byte starts; a stray continuation or bad lead is one character.
        const std::size_t length = lead < 0x80           ? 1
                                   : (lead >> 5) == 0x06 ? 2
                                   : (lead >> 4) == 0x0E ? 3
                                   : (lead >> 3) == 0x1E ? 4
                                                         : 0;
        bool whole = length > 0 && i + length <= utf8.size();
        uint32_t code = length == 1 ? lead : lead & (0x7Fu >> length);
        for (std::size_t k = 1; whole && k < length; ++k) {
            const auto next = static_cast<unsigned char>(utf8[i + k]);
            whole = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        const bool latin1 = whole && code <= 0xFF && (length == 1 || code >= 0x80);  // an overlong form is not
        out.push_back(latin1 ? static_cast<char>(code) : '?');
        i += whole ? length : 1;
    }
    return out;
}

std::string Printable(std::string_view bytes)
{
    std::string out;
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F || (b >= 0x80 && b < 0xA0)) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", b);
            out += escaped;
        } else {
            out += Latin1ToUtf8(std::string_view(&c, 1));
        }
    }
    return out;
}

std::string Excerpt(std::string_view bytes, std::size_t most)
{
    if (bytes.size() <= most) {
        return Printable(bytes);
    }
    return Printable(bytes.substr(0, most)) + "...";
}

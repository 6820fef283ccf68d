#include "settings/entry_rules.h"

namespace {
bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}
}  // namespace

std::optional<std::string> CheckTelephonePad(std::string_view text, int maxLength)
{
    if (static_cast<int>(text.size()) > maxLength) {
        return message::kEntryTooLong;
    }
    for (char c : text) {
        if (!IsDigit(c) && c != '#' && c != '*') {
            return message::kNotTelephonePad;
        }
    }
    return std::nullopt;
}

std::optional<std::string> CheckAllNumeric(std::string_view text)
{
    for (char c : text) {
        if (!IsDigit(c)) {
            return message::kNotAllNumeric;
        }
    }
    return std::nullopt;
}

EntryVerdict CheckTextEntry(const CatalogueEntry& entry, std::string_view text)
{
    EntryVerdict verdict;
    if (entry.kind != EntryKind::Text) {
        return verdict;
    }
    const bool tooLong = static_cast<int>(text.size()) > entry.maxLength;
    switch (entry.rule) {
    case TextRule::TelephonePad:
        verdict.message = CheckTelephonePad(text, entry.maxLength);
        verdict.focusBack = verdict.message.has_value();
        break;
    case TextRule::Number:
    case TextRule::AccessCode:
        if (tooLong) {
            verdict.message = entry.tooLongMessage;
            verdict.focusBack = true;
        } else {
            verdict.message = CheckAllNumeric(text);
            // A telephone number that is not all digits keeps the focus where the user moved it.
            verdict.focusBack = verdict.message.has_value() && entry.rule == TextRule::AccessCode;
        }
        break;
    case TextRule::None:
        return verdict;
    }
    verdict.send = !verdict.message.has_value();
    return verdict;
}

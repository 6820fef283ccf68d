// The rules a text entry must pass before it is sent, and the messages shown when it does not.
// Pure functions: the window shows the message in its "Error" box, the command-line tool prints it.
#pragma once

#include "settings/catalogue.h"

#include <optional>
#include <string>
#include <string_view>

namespace message {
constexpr const char* kEntryTooLong = "Entry too long";
constexpr const char* kNotTelephonePad = "Invalid: Must be telephone pad character (0-9, #, *)";
constexpr const char* kNotAllNumeric = "Invalid: Must be all numeric.";
}  // namespace message

// Telephone-pad code: the length is tested before the characters; only the first bad character counts.
// Returns the message on rejection, nothing when accepted.
std::optional<std::string> CheckTelephonePad(std::string_view text, int maxLength);

// Digits only; an empty text is accepted.
std::optional<std::string> CheckAllNumeric(std::string_view text);

struct EntryVerdict {
    bool send = false;                   // the text goes to the controller
    std::optional<std::string> message;  // shown to the user
    bool focusBack = false;              // the user must correct the entry before leaving it
};

// What happens when the text of a text setting is left: the whole rule of its row.
EntryVerdict CheckTextEntry(const CatalogueEntry& entry, std::string_view text);

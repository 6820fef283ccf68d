// The controller's texts are 8-bit bytes; JSON, terminals and messages want UTF-8. Each byte travels as the
// code point of the same value (Latin-1), so any byte survives a profile or a state file unchanged.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Every byte as the code point of its value: 0xFF becomes U+00FF ("\u00ff" in JSON).
std::string Latin1ToUtf8(std::string_view bytes);
// The reverse; nothing when the text is not UTF-8 or holds a code point above U+00FF.
std::optional<std::string> Utf8ToLatin1(std::string_view utf8);
// A text as a user typed it (UTF-8), as the entry rules judge it and the controller would take it: one byte
// per character, Latin-1 kept and any other character (or a byte that is not UTF-8) as '?', which no rule
// accepts; cut to report::kEntryTextCapacity characters. The window and the command line both judge this.
std::string EntryText(std::string_view utf8);
// For a terminal: Latin-1 as UTF-8, with control bytes as \xNN.
std::string Printable(std::string_view bytes);
// For a message quoting what a user gave: printable, and cut to about `most` characters with "...".
std::string Excerpt(std::string_view bytes, std::size_t most = 40);

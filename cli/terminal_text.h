// Text for a person at a terminal: its width, lines wrapped at spaces to fit it, the nearest names to a
// mistyped one, and a system error in the system's own words.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The terminal's width in columns: COLUMNS when set to a number, else the size of the terminal at `fd`
// (TIOCGWINSZ), else 80 (not a terminal).
int TerminalColumns(int fd);

// `text` broken at spaces into lines of at most `width` characters, each after `indent` spaces (the first
// after `firstIndent`); a word longer than a line is cut. Each line ends with a newline.
std::string WrapText(std::string_view text, int width, int firstIndent, int indent);

// Help text made to fit `width`: each longer line is wrapped at spaces, its continuation lines under the
// start of its description (the text after two or more spaces), or indented two more when that is too narrow.
std::string FitHelp(const std::string& help, int width);

// The number of single-character insertions, deletions, substitutions and swaps of neighbours that make
// one text the other, in any case.
int EditDistance(std::string_view a, std::string_view b);

// Up to `most` of `names` nearest to `typed`, nearest first: those within an edit distance of 2 (3 for
// words of 9 characters or more) or starting with it.
std::vector<std::string> NearestNames(std::string_view typed, const std::vector<std::string>& names, std::size_t most);

// The system's words of an error from the HID library, without its "ioctl (GFEATURE): " prefix.
std::string SystemWords(const std::string& error);

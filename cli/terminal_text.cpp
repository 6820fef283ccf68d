#include "cli/terminal_text.h"

#include "portable/process_io.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <numeric>

int TerminalColumns(int fd)
{
    if (const char* columns = std::getenv("COLUMNS"); columns != nullptr && *columns != '\0') {
        char* end = nullptr;
        const long n = std::strtol(columns, &end, 10);
        if (*end == '\0' && n > 0 && n < 10000) {
            return static_cast<int>(n);
        }
    }
    if (const int width = TerminalWidth(fd); width > 0) {
        return width;
    }
    return 80;
}

std::string WrapText(std::string_view text, int width, int firstIndent, int indent)
{
    std::string out;
    std::string line(static_cast<std::size_t>(firstIndent), ' ');
    std::size_t lineStart = static_cast<std::size_t>(firstIndent);  // where the line's words begin
    auto endLine = [&] {
        while (line.size() > lineStart && line.back() == ' ') {
            line.pop_back();
        }
        out += line + "\n";
        line.assign(static_cast<std::size_t>(indent), ' ');
        lineStart = static_cast<std::size_t>(indent);
    };
    const std::size_t limit = static_cast<std::size_t>(std::max(width, indent + 1));
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t wordEnd = std::min(text.find(' ', i), text.size());
        std::string_view word = text.substr(i, wordEnd - i);
        i = wordEnd + (wordEnd < text.size() ? 1 : 0);
        if (word.empty()) {
            continue;
        }
        const bool first = line.size() == lineStart;
        if (!first && line.size() + 1 + word.size() > limit) {
            endLine();
        }
        if (line.size() != lineStart) {
            line += ' ';
        }
        while (line.size() + word.size() > limit) {  // a word longer than a whole line
            const std::size_t room = limit - line.size();
            line += word.substr(0, room);
            word.remove_prefix(room);
            endLine();
        }
        line += word;
    }
    if (line.size() > lineStart || out.empty()) {
        endLine();
    }
    return out;
}

std::string FitHelp(const std::string& help, int width)
{
    constexpr std::size_t kNarrowest = 20;  // a description column narrower than this goes below its name
    std::string out;
    std::size_t from = 0;
    while (from < help.size()) {
        const std::size_t end = std::min(help.find('\n', from), help.size());
        std::string line = help.substr(from, end - from);
        from = end + 1;
        while (!line.empty() && line.back() == ' ') {
            line.pop_back();
        }
        if (line.size() <= static_cast<std::size_t>(width)) {
            out += line + "\n";
            continue;
        }
        const std::size_t start = line.find_first_not_of(' ');
        std::size_t lead = start;
        if (lead + kNarrowest > static_cast<std::size_t>(width)) {
            lead = static_cast<std::size_t>(width / 4);  // a description alone on its line, far to the right
        }
        // The description column: after the first run of two or more spaces past the leading ones.
        if (const std::size_t gap = line.find("  ", start); gap != std::string::npos) {
            const std::size_t column = line.find_first_not_of(' ', gap);
            if (column != std::string::npos && column + kNarrowest <= static_cast<std::size_t>(width)) {
                // The name as it stands, its description wrapped in its column.
                std::string wrapped =
                    WrapText(line.substr(column), width, static_cast<int>(column), static_cast<int>(column));
                out += line.substr(0, column) + wrapped.substr(column);
                continue;
            }
            if (column != std::string::npos) {
                // The name on its own line, its description below it.
                out += WrapText(line.substr(start, gap - start), width, static_cast<int>(lead), static_cast<int>(lead));
                out += WrapText(line.substr(column), width, static_cast<int>(lead + 4), static_cast<int>(lead + 4));
                continue;
            }
        }
        out += WrapText(line.substr(start), width, static_cast<int>(lead), static_cast<int>(lead));
    }
    return out;
}

int EditDistance(std::string_view a, std::string_view b)
{
    auto lower = [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); };
    const std::size_t n = a.size(), m = b.size();
    std::vector<std::vector<int>> d(n + 1, std::vector<int>(m + 1));
    for (std::size_t i = 0; i <= n; ++i) {
        d[i][0] = static_cast<int>(i);
    }
    for (std::size_t j = 0; j <= m; ++j) {
        d[0][j] = static_cast<int>(j);
    }
    for (std::size_t i = 1; i <= n; ++i) {
        for (std::size_t j = 1; j <= m; ++j) {
            const int cost = lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && lower(a[i - 1]) == lower(b[j - 2]) && lower(a[i - 2]) == lower(b[j - 1])) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[n][m];
}

std::vector<std::string> NearestNames(std::string_view typed, const std::vector<std::string>& names, std::size_t most)
{
    const int within = typed.size() >= 9 ? 3 : 2;
    std::vector<std::pair<int, std::size_t>> near;  // distance, index
    for (std::size_t i = 0; i < names.size(); ++i) {
        int distance = EditDistance(typed, names[i]);
        if (typed.size() >= 3 && names[i].size() > typed.size() &&
            EditDistance(typed, names[i].substr(0, typed.size())) == 0) {
            distance = std::min(distance, 1);  // the start of the name
        }
        if (distance <= within) {
            near.emplace_back(distance, i);
        }
    }
    std::stable_sort(near.begin(), near.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
    std::vector<std::string> found;
    for (std::size_t k = 0; k < near.size() && k < most; ++k) {
        found.push_back(names[near[k].second]);
    }
    return found;
}

std::string SystemWords(const std::string& error)
{
    // hidapi's "ioctl (GFEATURE): Broken pipe", "ioctl (SFEATURE): ...": the part after its prefix.
    std::string words = error;
    for (std::size_t at; (at = words.find("ioctl (")) != std::string::npos;) {
        const std::size_t close = words.find("): ", at);
        if (close == std::string::npos) {
            break;
        }
        words.erase(at, close + 3 - at);
    }
    return words;
}

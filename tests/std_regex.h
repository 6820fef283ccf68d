// Regular-expression matchers on std::regex (ECMAScript), the same on every platform: GoogleTest's own are
// POSIX extended on Linux but a much smaller language on Windows.
#pragma once

#include <gmock/gmock.h>

#include <regex>
#include <string>

MATCHER_P(MatchesStdRegex, pattern, "matches regular expression \"" + std::string(pattern) + "\"")
{
    return std::regex_match(std::string(arg), std::regex(pattern));
}

MATCHER_P(ContainsStdRegex, pattern, "contains regular expression \"" + std::string(pattern) + "\"")
{
    return std::regex_search(std::string(arg), std::regex(pattern, std::regex::ECMAScript | std::regex::multiline));
}

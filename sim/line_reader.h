// Splits a byte stream of commands into lines, keeping at most one bounded line: a line longer than the
// bound is dropped whole and reported once, so endless input without a newline costs no memory or time.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace sim {

class LineReader {
public:
    static constexpr std::size_t kLongestLine = 4096;

    // `onLine` gets every complete line; `onTooLong` is told of each line that was dropped.
    LineReader(std::function<void(const std::string&)> onLine, std::function<void()> onTooLong)
        : onLine_(std::move(onLine)), onTooLong_(std::move(onTooLong))
    {
    }

    void Feed(std::string_view bytes);
    // The end of the input: a last line without a newline counts.
    void Finish();

private:
    std::function<void(const std::string&)> onLine_;
    std::function<void()> onTooLong_;
    std::string pending_;
    bool overlong_ = false;  // the line being received is already too long
};

}  // namespace sim

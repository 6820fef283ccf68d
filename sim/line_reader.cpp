#include "sim/line_reader.h"

namespace sim {

void LineReader::Feed(std::string_view bytes)
{
    while (!bytes.empty()) {
        const std::size_t newline = bytes.find('\n');
        const std::string_view part = bytes.substr(0, newline);
        if (!overlong_ && pending_.size() + part.size() > kLongestLine) {
            overlong_ = true;
            pending_.clear();
            onTooLong_();
        }
        if (!overlong_) {
            pending_.append(part);
        }
        if (newline == std::string_view::npos) {
            return;
        }
        if (!overlong_) {
            onLine_(pending_);
        }
        pending_.clear();
        overlong_ = false;
        bytes.remove_prefix(newline + 1);
    }
}

void LineReader::Finish()
{
    if (!overlong_ && !pending_.empty()) {
        onLine_(pending_);
    }
    pending_.clear();
    overlong_ = false;
}

}  // namespace sim

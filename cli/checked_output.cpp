#include "cli/checked_output.h"

#include "portable/process_io.h"

bool CheckedOutput::Drain()
{
    const std::size_t pending = static_cast<std::size_t>(pptr() - pbase());
    setp(buffer_.data(), buffer_.data() + buffer_.size());
    if (!failure_.empty()) {
        return false;  // what follows a lost write is dropped too: no output with a hole in it
    }
    std::string error;
    if (pending > 0 && !WriteToDescriptor(fd_, buffer_.data(), pending, error)) {
        failure_ = error;
        return false;
    }
    return true;
}

CheckedOutput::int_type CheckedOutput::overflow(int_type c)
{
    if (!Drain()) {
        return traits_type::eof();
    }
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
    }
    return traits_type::not_eof(c);
}

int CheckedOutput::sync()
{
    return Drain() ? 0 : -1;
}

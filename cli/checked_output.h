// Standard output as doorphonectl writes it: buffered, every write checked, and the first failure kept
// with the system's text, so that a command can finish what it does to a controller and then say that its
// output was lost (a closed pipe, a full disk) instead of ending in silence.
#pragma once

#include <array>
#include <streambuf>
#include <string>

class CheckedOutput : public std::streambuf {
public:
    explicit CheckedOutput(int fd) : fd_(fd) { setp(buffer_.data(), buffer_.data() + buffer_.size()); }
    ~CheckedOutput() override { sync(); }
    CheckedOutput(const CheckedOutput&) = delete;
    CheckedOutput& operator=(const CheckedOutput&) = delete;

    // The system's text for the first write that failed; empty while none has.
    const std::string& Failure() const { return failure_; }

protected:
    int_type overflow(int_type c) override;
    int sync() override;

private:
    bool Drain();

    int fd_;
    std::array<char, 4096> buffer_{};
    std::string failure_;
};

// An environment variable set for as long as the object lives, and put back as it was afterwards.
#pragma once

#include "tests/test_system.h"

#include <cstdlib>
#include <optional>
#include <string>

class ScopedEnv {
public:
    // A null value unsets it.
    ScopedEnv(std::string name, const char* value) : name_(std::move(name))
    {
        if (const char* now = std::getenv(name_.c_str())) {
            before_ = now;
        }
        Set(value);
    }
    ~ScopedEnv() { Set(before_ ? before_->c_str() : nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    void Set(const char* value) { SetEnvironment(name_.c_str(), value); }
    std::string name_;
    std::optional<std::string> before_;
};

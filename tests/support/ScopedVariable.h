#pragma once

#include <stdlib.h>

#include <optional>
#include <string>

namespace kx::testing {

// Sets an environment variable (or removes it, given no value) for the life of the object, then
// puts back what was there before.
class ScopedVariable {
public:
    ScopedVariable(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
        if (const char* previous = ::getenv(name_.c_str())) previous_ = previous;
        set(value);
    }
    ~ScopedVariable() { set(previous_); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    void set(const std::optional<std::string>& value) {
        if (value)
            ::setenv(name_.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }

    std::string name_;
    std::optional<std::string> previous_;
};

}  // namespace kx::testing

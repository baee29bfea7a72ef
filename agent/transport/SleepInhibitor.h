#pragma once

#include <memory>
#include <string>

namespace kx {

// Keeps the machine from idle sleep for as long as it exists.
class SleepInhibition {
public:
    virtual ~SleepInhibition() = default;
};

// The system's power service, as far as the agent needs it.
class SleepInhibitor {
public:
    virtual ~SleepInhibitor() = default;
    // Null when the system cannot (or will not) keep itself awake; that is not an error.
    virtual std::unique_ptr<SleepInhibition> inhibit(const std::string& reason) = 0;
};

}  // namespace kx

#pragma once

namespace kx {

// Whether the application starts when the user logs in.
class LoginItem {
public:
    enum class Status { enabled, disabled, requiresApproval };

    virtual ~LoginItem() = default;
    virtual Status status() const = 0;
    // Registers (on) or unregisters (off); throws std::runtime_error when that fails.
    virtual void set(bool on) = 0;
};

}  // namespace kx

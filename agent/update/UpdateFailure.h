#pragma once

#include <exception>
#include <string>

namespace kx {

// An update problem with a sentence meant for the user; shown as "Update failed: " + reason.
struct UpdateFailure : std::exception {
    std::string reason;

    explicit UpdateFailure(std::string r) : reason(std::move(r)) {}
    const char* what() const noexcept override { return reason.c_str(); }

    friend bool operator==(const UpdateFailure& a, const UpdateFailure& b) { return a.reason == b.reason; }
};

}  // namespace kx

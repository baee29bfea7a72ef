#pragma once

#include <optional>
#include <string>

#include "protocol/JSONValue.h"

namespace kx {

// What the user must do before a capability can be used, optionally with a command to run.
struct SetupHint {
    std::string message;
    std::optional<std::string> command;

    // {"message": ...} plus "command" only when it is present and not empty.
    JSONValue wireValue() const;

    friend bool operator==(const SetupHint&, const SetupHint&) = default;
};

}  // namespace kx

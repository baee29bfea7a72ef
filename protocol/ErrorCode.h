#pragma once

#include <optional>
#include <string_view>

namespace kx {

// The twelve error classes of the protocol, in wire order.
enum class ErrorCode {
    unauthorized,
    unknownMethod,
    unsupported,
    invalidParams,
    permissionDenied,
    targetNotFound,
    targetNotReady,
    busy,
    rateLimited,
    needsConfirmation,
    timeout,
    internal,
};

std::string_view wireString(ErrorCode code);
// Exact, case-sensitive match of a wire string; absent for anything else.
std::optional<ErrorCode> errorCodeFromWire(std::string_view text);

}  // namespace kx

#include "protocol/ErrorCode.h"

#include <array>

namespace kx {

namespace {
constexpr std::array<std::string_view, 12> kWire = {
    "unauthorized",     "unknown_method", "unsupported",  "invalid_params",     "permission_denied", "target_not_found",
    "target_not_ready", "busy",           "rate_limited", "needs_confirmation", "timeout",           "internal",
};
}

std::string_view wireString(ErrorCode code) {
    return kWire.at(static_cast<std::size_t>(code));
}

std::optional<ErrorCode> errorCodeFromWire(std::string_view text) {
    for (std::size_t i = 0; i < kWire.size(); ++i) {
        if (kWire[i] == text) return static_cast<ErrorCode>(i);
    }
    return std::nullopt;
}

}  // namespace kx

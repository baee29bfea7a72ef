#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace kx {

// What the computer does when a shutdown countdown runs out.
enum class ShutdownAction { shutdown, restart };

inline constexpr std::array<ShutdownAction, 2> allShutdownActions{ShutdownAction::shutdown, ShutdownAction::restart};

// "shutdown" or "restart", as on the wire.
std::string_view rawValue(ShutdownAction action);
// Exact, case-sensitive match of a raw value; absent for anything else.
std::optional<ShutdownAction> shutdownActionFromRaw(std::string_view text);

}  // namespace kx

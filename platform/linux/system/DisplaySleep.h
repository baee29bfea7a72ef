#pragma once

#include <optional>
#include <string>

namespace kx::DisplaySleep {

// Whether the X display (the one named, else DISPLAY) can be reached.
bool reachable(const std::optional<std::string>& display = std::nullopt);
// Turns the screens off through DPMS where the server has it, else starts the screen saver.
bool now(const std::optional<std::string>& display = std::nullopt);

}  // namespace kx::DisplaySleep

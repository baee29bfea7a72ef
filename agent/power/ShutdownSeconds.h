#pragma once

#include <optional>
#include <string_view>

namespace kx {

// Environment variable that shortens the countdown, for demonstrations and tests.
inline constexpr const char* kShutdownSecondsVariable = "KX_SHUTDOWN_SECONDS";
inline constexpr int kMinimumShutdownSeconds = 1;
inline constexpr int kMaximumShutdownSeconds = 30;

// A whole number from 1 to 30 in plain decimal; absent for anything else.
std::optional<int> parseShutdownSeconds(std::string_view text);
// The countdown length to build: KX_SHUTDOWN_SECONDS when valid, otherwise 30.
int shutdownSecondsFromEnvironment();

}  // namespace kx

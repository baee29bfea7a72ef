#include "agent/power/ShutdownSeconds.h"

#include <charconv>
#include <cstdlib>

#include "agent/power/ShutdownCountdown.h"

namespace kx {

std::optional<int> parseShutdownSeconds(std::string_view text) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc{} || stop != end) return std::nullopt;
    if (value < kMinimumShutdownSeconds || value > kMaximumShutdownSeconds) return std::nullopt;
    return value;
}

int shutdownSecondsFromEnvironment() {
    const char* text = std::getenv(kShutdownSecondsVariable);
    const auto seconds = text ? parseShutdownSeconds(text) : std::nullopt;
    return seconds.value_or(ShutdownCountdown::defaultSeconds);
}

}  // namespace kx

#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace kx {

// ISO 8601 internet date-time in UTC without fractional seconds, e.g. 2026-01-05T10:00:00Z.
// Fractions are dropped when formatting (the time is floored to the second).
std::string formatInternetDate(std::chrono::system_clock::time_point time);

// Reads the same form; a numeric offset (+01:00) is accepted in place of "Z". Fractional seconds,
// missing parts, out-of-range fields or a time the system clock cannot hold make it fail.
std::optional<std::chrono::system_clock::time_point> parseInternetDate(std::string_view text);

}  // namespace kx

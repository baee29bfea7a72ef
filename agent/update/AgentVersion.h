#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kx {

// The agent's version number: major.minor.patch, optionally followed by "-dev".
// A development build sorts below the release of the same number.
struct AgentVersion {
    std::array<std::int64_t, 3> components{};
    bool isDevelopment = false;

    // Absent unless the text is exactly three dot-separated runs of 1 to 9 decimal digits,
    // optionally followed by "-dev".
    static std::optional<AgentVersion> parse(std::string_view text);

    std::string description() const;

    friend bool operator==(const AgentVersion&, const AgentVersion&) = default;
    friend std::strong_ordering operator<=>(const AgentVersion& a, const AgentVersion& b);
};

}  // namespace kx

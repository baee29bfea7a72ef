#pragma once

#include <array>
#include <cstdint>

namespace kx::ProtocolVersion {

inline constexpr std::int64_t current = 1;
inline constexpr std::array<std::int64_t, 1> supported = {1};

inline constexpr bool isSupported(std::int64_t v) {
    for (auto s : supported)
        if (s == v) return true;
    return false;
}

}  // namespace kx::ProtocolVersion

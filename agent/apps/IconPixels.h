#pragma once

#include <cstdint>
#include <vector>

namespace kx {

// A window's own icon as the window supplies it: non-premultiplied ARGB, one 32-bit value per
// pixel, row by row (width * height values).
struct IconPixels {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint32_t> argb;

    bool operator==(const IconPixels&) const = default;
};

}  // namespace kx

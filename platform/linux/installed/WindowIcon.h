#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace kx {

// The icon a window publishes itself, for a window that matches no installed application.
class WindowIcon {
public:
    // Icon text from a window's _NET_WM_ICON property: one or more images, each as width, height
    // and width x height ARGB pixels, row by row. The smallest image at least 48 pixels on both
    // sides is used, else the largest. None when the property holds no whole image.
    // Xlib hands 32-bit property items over as unsigned long; XCB as 32-bit values: both are taken.
    static std::optional<std::string> iconText(std::span<const std::uint32_t> property);
    static std::optional<std::string> iconText(std::span<const unsigned long> property);
};

}  // namespace kx

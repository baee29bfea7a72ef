#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace kx {

// A display backlight of the kernel's backlight class.
struct Backlight {
    std::string name;  // its folder's name, as logind's SetBrightness takes it
    std::uint32_t brightness = 0;
    std::uint32_t maximum = 0;

    // One brightness key's worth: a sixteenth of the range, at least one unit.
    static constexpr std::uint32_t stepsInRange = 16;

    // The one a desktop would use: firmware interfaces before platform ones before raw ones, each
    // kind in name order; absent when `root` holds none with a range.
    static std::optional<Backlight> best(const std::filesystem::path& root);
    // The brightness one step up or down, kept between 1 (0 stays 0) and the maximum.
    std::uint32_t stepped(bool up) const;
};

}  // namespace kx

#pragma once

namespace kx {

// The desktop app's palette, in sRGB.
struct ThemeColour {
    double red = 0, green = 0, blue = 0, alpha = 1;
    friend bool operator==(const ThemeColour&, const ThemeColour&) = default;
};

namespace Theme {
inline constexpr ThemeColour ground{0.027, 0.031, 0.047};
inline constexpr ThemeColour accent{0.0, 0.898, 1.0};
inline constexpr ThemeColour secondary{1.0, 0.176, 0.584};
inline constexpr ThemeColour ok{0.2, 0.9, 0.55};
inline constexpr ThemeColour warn{1.0, 0.71, 0.2};
inline constexpr ThemeColour surface{1, 1, 1, 0.04};
inline constexpr ThemeColour hairline{1, 1, 1, 0.08};
inline constexpr ThemeColour textPrimary{1, 1, 1, 0.92};
inline constexpr ThemeColour textSecondary{1, 1, 1, 0.55};
inline constexpr int radius = 20;
}  // namespace Theme

}  // namespace kx

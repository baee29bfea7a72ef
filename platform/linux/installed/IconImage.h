#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

namespace kx {

// Icon text (standard Base64 of a 48 x 48 pixel PNG, no line breaks) drawn from an image file or
// from raw pixels: the image is scaled to fit, keeping its shape, centred on a transparent square.
//
// Drawn with Qt into a QImage, which needs no QGuiApplication and may run on any thread. What Qt
// does need a QGuiApplication for, and so is never used here: QPixmap (so QIcon cannot draw its
// icons) and fonts (so an SVG file with text elements is refused rather than drawn).
class IconImage {
public:
    static constexpr int side = 48;
    // The most icon text one icon may take: the per-answer icon budget of the application list.
    static constexpr std::size_t maxTextLength = 102400;
    // Raster images are decoded whole before they are scaled; larger ones are refused.
    static constexpr int maxSourceSide = 4096;

    // PNG, XPM or SVG (by extension); none when it cannot be read or drawn.
    static std::optional<std::string> fromFile(const std::filesystem::path& path);
    // `pixels` holds width x height 32-bit ARGB values (not premultiplied), row by row.
    static std::optional<std::string> fromARGB(int width, int height, std::span<const std::uint32_t> pixels);
};

}  // namespace kx

#include "platform/linux/installed/WindowIcon.h"

#include <vector>

#include "platform/linux/installed/IconImage.h"

namespace kx {

namespace {

template <class Item>
std::optional<std::string> bestImage(std::span<const Item> property) {
    struct Image {
        std::size_t width, height, offset;
    };
    std::optional<Image> best;
    auto better = [](const Image& candidate, const Image& current) {
        const auto wanted = static_cast<std::size_t>(IconImage::side);
        bool candidateBigEnough = candidate.width >= wanted && candidate.height >= wanted;
        bool currentBigEnough = current.width >= wanted && current.height >= wanted;
        if (candidateBigEnough != currentBigEnough) return candidateBigEnough;
        auto area = [](const Image& image) { return image.width * image.height; };
        return candidateBigEnough ? area(candidate) < area(current) : area(candidate) > area(current);
    };
    for (std::size_t at = 0; property.size() - at >= 2;) {
        // Items are 32-bit values even where unsigned long is wider.
        Image image{static_cast<std::uint32_t>(property[at]), static_cast<std::uint32_t>(property[at + 1]), at + 2};
        if (image.width == 0 || image.height == 0 || image.width > (property.size() - image.offset) / image.height)
            break;
        const auto limit = static_cast<std::size_t>(IconImage::maxSourceSide);
        bool drawable = image.width <= limit && image.height <= limit;
        if (drawable && (!best || better(image, *best))) best = image;
        at = image.offset + image.width * image.height;
    }
    if (!best) return std::nullopt;
    std::vector<std::uint32_t> pixels;
    pixels.reserve(best->width * best->height);
    for (std::size_t i = 0; i < best->width * best->height; ++i)
        pixels.push_back(static_cast<std::uint32_t>(property[best->offset + i]));
    return IconImage::fromARGB(static_cast<int>(best->width), static_cast<int>(best->height), pixels);
}

}  // namespace

std::optional<std::string> WindowIcon::iconText(std::span<const std::uint32_t> property) {
    return bestImage(property);
}

std::optional<std::string> WindowIcon::iconText(std::span<const unsigned long> property) {
    return bestImage(property);
}

}  // namespace kx

#include "platform/linux/installed/ThemeIconRenderer.h"

#include "platform/linux/installed/IconImage.h"
#include "platform/linux/installed/IconThemeName.h"

namespace kx {

ThemeIconRenderer::ThemeIconRenderer(IconThemeLookup lookup, std::function<std::string()> themeName)
    : lookup_(std::move(lookup)), themeName_(themeName ? std::move(themeName) : IconThemeName::current) {}

std::optional<std::string> ThemeIconRenderer::render(const InstalledApp& app) {
    return render(app.iconName);
}

std::optional<std::string> ThemeIconRenderer::render(const std::string& iconName) {
    if (iconName.empty()) return std::nullopt;
    auto file = lookup_.find(iconName, theme());
    return file ? IconImage::fromFile(*file) : std::nullopt;
}

std::string ThemeIconRenderer::theme() {
    std::call_once(themeOnce_, [this] { theme_ = themeName_(); });
    return theme_;
}

}  // namespace kx

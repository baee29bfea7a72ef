#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "agent/apps/InstalledApp.h"
#include "platform/linux/installed/IconThemeLookup.h"

namespace kx {

// Draws an installed application's icon (its entry's Icon=, a theme name or an absolute path) from
// the desktop's icon theme as icon text. The theme name is asked for once, at the first icon.
// Safe from any thread.
class ThemeIconRenderer {
public:
    explicit ThemeIconRenderer(IconThemeLookup lookup = IconThemeLookup::standard(),
                               std::function<std::string()> themeName = nullptr);

    std::optional<std::string> render(const InstalledApp& app);
    // Icon text of an icon by its name or absolute path.
    std::optional<std::string> render(const std::string& iconName);

private:
    std::string theme();

    IconThemeLookup lookup_;
    std::function<std::string()> themeName_;
    std::once_flag themeOnce_;
    std::string theme_;
};

}  // namespace kx

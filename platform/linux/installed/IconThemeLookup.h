#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kx {

// Finds an icon's file the way freedesktop icon themes are meant to be read: the theme's folders
// matching the size first, then the closest size, then its parent themes, then hicolor, then the
// plain pixmap folders; PNG before SVG before XPM in each folder. An absolute name is a file of its
// own. Index files are read once per theme and kept; the icon files themselves are looked up anew
// each time. Safe from any thread.
class IconThemeLookup {
public:
    static constexpr int iconSize = 48;

    // themeFolders: where themes live, in order of precedence; pixmapFolders: the flat fallbacks.
    IconThemeLookup(std::vector<std::filesystem::path> themeFolders, std::vector<std::filesystem::path> pixmapFolders);
    // ~/.icons, $XDG_DATA_HOME/icons and every $XDG_DATA_DIRS/icons; $XDG_DATA_DIRS/pixmaps.
    static IconThemeLookup standard();

    std::optional<std::filesystem::path> find(const std::string& iconName, const std::string& themeName) const;

private:
    struct Folder;
    struct Theme;

    std::shared_ptr<const Theme> theme(const std::string& name) const;
    std::shared_ptr<const Theme> readTheme(const std::string& name) const;
    std::optional<std::filesystem::path> findInThemes(const std::string& name, const std::string& themeName, int depth,
                                                      std::vector<std::string>& visited) const;
    std::optional<std::filesystem::path> findInTheme(const std::string& name, const Theme& theme) const;
    std::optional<std::filesystem::path> findPixmap(const std::string& fileName, const std::string& name) const;

    std::vector<std::filesystem::path> themeFolders_;
    std::vector<std::filesystem::path> pixmapFolders_;
    // Themes read so far (null for those that could not be read), by name.
    struct ThemeCache {
        std::mutex lock;
        std::map<std::string, std::shared_ptr<const Theme>> themes;
    };
    std::unique_ptr<ThemeCache> cache_ = std::make_unique<ThemeCache>();
};

}  // namespace kx

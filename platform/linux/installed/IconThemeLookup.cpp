#include "platform/linux/installed/IconThemeLookup.h"

#include <glib.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace kx {

namespace fs = std::filesystem;

namespace {

constexpr const char* fallbackTheme = "hicolor";
constexpr std::array<const char*, 3> extensions = {".png", ".svg", ".xpm"};
// Inherits= chains longer than this are taken as broken.
constexpr int maxThemeDepth = 16;
// Index files of real themes are tens of kilobytes.
constexpr std::uintmax_t maxIndexBytes = 1 << 20;

bool isFile(const fs::path& path) {
    std::error_code ignored;
    return fs::is_regular_file(path, ignored);
}

std::vector<std::string> listValue(GKeyFile* file, const char* group, const char* key) {
    std::vector<std::string> values;
    if (gchar** list = g_key_file_get_string_list(file, group, key, nullptr, nullptr)) {
        for (gchar** item = list; *item; ++item)
            if (**item) values.emplace_back(*item);
        g_strfreev(list);
    }
    return values;
}

int intValue(GKeyFile* file, const char* group, const char* key, int fallback) {
    GError* error = nullptr;
    int value = g_key_file_get_integer(file, group, key, &error);
    if (error) {
        g_error_free(error);
        return fallback;
    }
    return value;
}

// A theme or icon name is one path component.
bool isPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

}  // namespace

struct IconThemeLookup::Folder {
    enum class Type { fixed, scalable, threshold };
    std::string path;  // below the theme's folder, e.g. "48x48/apps"
    Type type = Type::threshold;
    int size = 0, minSize = 0, maxSize = 0, threshold = 2, scale = 1;

    bool matches(int wanted) const {
        if (scale != 1) return false;
        switch (type) {
            case Type::fixed: return size == wanted;
            case Type::scalable: return minSize <= wanted && wanted <= maxSize;
            case Type::threshold: return size - threshold <= wanted && wanted <= size + threshold;
        }
        return false;
    }
    int distance(int wanted) const {
        int low = type == Type::threshold ? size - threshold : type == Type::scalable ? minSize : size;
        int high = type == Type::threshold ? size + threshold : type == Type::scalable ? maxSize : size;
        if (wanted < low * scale) return low * scale - wanted;
        if (wanted > high * scale) return wanted - high * scale;
        return 0;
    }
};

struct IconThemeLookup::Theme {
    std::string name;
    std::vector<fs::path> roots;  // <themeFolder>/<name> that exist
    std::vector<Folder> folders;
    std::vector<std::string> parents;
};

IconThemeLookup::IconThemeLookup(std::vector<fs::path> themeFolders, std::vector<fs::path> pixmapFolders)
    : themeFolders_(std::move(themeFolders)), pixmapFolders_(std::move(pixmapFolders)) {}

IconThemeLookup IconThemeLookup::standard() {
    std::vector<fs::path> themes, pixmaps;
    themes.push_back(fs::path(g_get_home_dir()) / ".icons");
    themes.push_back(fs::path(g_get_user_data_dir()) / "icons");
    for (const gchar* const* dir = g_get_system_data_dirs(); *dir; ++dir) {
        themes.push_back(fs::path(*dir) / "icons");
        pixmaps.push_back(fs::path(*dir) / "pixmaps");
    }
    return IconThemeLookup(std::move(themes), std::move(pixmaps));
}

std::optional<fs::path> IconThemeLookup::find(const std::string& iconName, const std::string& themeName) const {
    if (iconName.starts_with("/")) return isFile(iconName) ? std::optional(fs::path(iconName)) : std::nullopt;
    if (!isPlainName(iconName)) return std::nullopt;
    // Old entries name a file ("foo.png"); themes know the icon without its extension.
    std::string name = iconName;
    for (const char* extension : extensions)
        if (name.size() > std::strlen(extension) && name.ends_with(extension))
            name.resize(name.size() - std::strlen(extension));

    std::vector<std::string> visited;
    if (isPlainName(themeName))
        if (auto found = findInThemes(name, themeName, 0, visited)) return found;
    if (auto found = findInThemes(name, fallbackTheme, 0, visited)) return found;
    return findPixmap(iconName, name);
}

std::optional<fs::path> IconThemeLookup::findInThemes(const std::string& name, const std::string& themeName, int depth,
                                                      std::vector<std::string>& visited) const {
    if (depth > maxThemeDepth || !isPlainName(themeName) ||
        std::find(visited.begin(), visited.end(), themeName) != visited.end())
        return std::nullopt;
    visited.push_back(themeName);
    auto found = theme(themeName);
    if (!found) return std::nullopt;
    if (auto file = findInTheme(name, *found)) return file;
    for (const auto& parent : found->parents)
        if (auto file = findInThemes(name, parent, depth + 1, visited)) return file;
    return std::nullopt;
}

std::optional<fs::path> IconThemeLookup::findInTheme(const std::string& name, const Theme& theme) const {
    auto inFolder = [&](const Folder& folder) -> std::optional<fs::path> {
        for (const auto& root : theme.roots)
            for (const char* extension : extensions)
                if (auto file = root / folder.path / (name + extension); isFile(file)) return file;
        return std::nullopt;
    };
    for (const auto& folder : theme.folders)
        if (folder.matches(iconSize))
            if (auto file = inFolder(folder)) return file;
    std::optional<fs::path> closest;
    int closestDistance = INT_MAX;
    for (const auto& folder : theme.folders) {
        int distance = folder.distance(iconSize);
        if (distance >= closestDistance) continue;
        if (auto file = inFolder(folder)) closest = std::move(file), closestDistance = distance;
    }
    return closest;
}

std::optional<fs::path> IconThemeLookup::findPixmap(const std::string& fileName, const std::string& name) const {
    for (const auto& folder : pixmapFolders_) {
        if (fileName != name)
            if (auto file = folder / fileName; isFile(file)) return file;
        for (const char* extension : extensions)
            if (auto file = folder / (name + extension); isFile(file)) return file;
    }
    return std::nullopt;
}

std::shared_ptr<const IconThemeLookup::Theme> IconThemeLookup::theme(const std::string& name) const {
    {
        std::lock_guard guard(cache_->lock);
        if (auto known = cache_->themes.find(name); known != cache_->themes.end()) return known->second;
    }
    auto read = readTheme(name);
    std::lock_guard guard(cache_->lock);
    return cache_->themes.emplace(name, read).first->second;
}

std::shared_ptr<const IconThemeLookup::Theme> IconThemeLookup::readTheme(const std::string& name) const {
    auto theme = std::make_shared<Theme>();
    theme->name = name;
    std::optional<fs::path> index;
    for (const auto& folder : themeFolders_) {
        std::error_code ignored;
        if (!fs::is_directory(folder / name, ignored)) continue;
        theme->roots.push_back(folder / name);
        if (!index && isFile(folder / name / "index.theme")) index = folder / name / "index.theme";
    }
    std::error_code sizeError;
    if (!index || fs::file_size(*index, sizeError) > maxIndexBytes || sizeError) return nullptr;

    GKeyFile* file = g_key_file_new();
    g_key_file_set_list_separator(file, ',');  // theme lists are comma-separated
    if (!g_key_file_load_from_file(file, index->c_str(), G_KEY_FILE_NONE, nullptr)) {
        g_key_file_free(file);
        return nullptr;
    }
    constexpr const char* group = "Icon Theme";
    theme->parents = listValue(file, group, "Inherits");
    for (const auto& path : listValue(file, group, "Directories")) {
        Folder folder;
        folder.path = path;
        const char* section = path.c_str();
        folder.size = intValue(file, section, "Size", 0);
        if (folder.size <= 0) continue;
        folder.scale = intValue(file, section, "Scale", 1);
        folder.minSize = intValue(file, section, "MinSize", folder.size);
        folder.maxSize = intValue(file, section, "MaxSize", folder.size);
        folder.threshold = intValue(file, section, "Threshold", 2);
        gchar* type = g_key_file_get_string(file, section, "Type", nullptr);
        std::string typeName = type ? type : "Threshold";
        g_free(type);
        folder.type = typeName == "Fixed"      ? Folder::Type::fixed
                      : typeName == "Scalable" ? Folder::Type::scalable
                                               : Folder::Type::threshold;
        if (path.find("..") == std::string::npos && !path.starts_with("/")) theme->folders.push_back(std::move(folder));
    }
    g_key_file_free(file);
    return theme;
}

}  // namespace kx

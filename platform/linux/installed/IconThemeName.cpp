#include "platform/linux/installed/IconThemeName.h"

#include <glib.h>

#include <filesystem>
#include <optional>

#include "platform/linux/installed/XSettings.h"

namespace kx {

namespace {

std::optional<std::string> settingsFileValue(const std::string& file, const char* group, const char* key) {
    auto path = std::filesystem::path(g_get_user_config_dir()) / file;
    GKeyFile* settings = g_key_file_new();
    std::optional<std::string> value;
    if (g_key_file_load_from_file(settings, path.c_str(), G_KEY_FILE_NONE, nullptr))
        if (gchar* text = g_key_file_get_string(settings, group, key, nullptr)) {
            if (*text) value = text;
            g_free(text);
        }
    g_key_file_free(settings);
    return value;
}

}  // namespace

std::string IconThemeName::current() {
    if (auto name = XSettings::readString("Net/IconThemeName"); name && !name->empty()) return *name;
    if (auto name = settingsFileValue("gtk-3.0/settings.ini", "Settings", "gtk-icon-theme-name")) return *name;
    if (auto name = settingsFileValue("kdeglobals", "Icons", "Theme")) return *name;
    return "hicolor";
}

}  // namespace kx

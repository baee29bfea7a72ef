#include "agent/support/DataDirectory.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace kx {

namespace {

std::optional<std::filesystem::path> homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return std::filesystem::path(home);
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return std::filesystem::path(pw->pw_dir);
    return std::nullopt;
}

std::optional<std::filesystem::path> xdgFolder(const char* variable, const char* fallback) {
    std::filesystem::path base;
    if (const char* value = std::getenv(variable); value && *value == '/') {
        base = value;
    } else if (auto home = homeDirectory()) {
        base = *home / fallback;
    } else {
        return std::nullopt;
    }
    auto folder = base / "Kestrix";
    ensureDirectory(folder);
    return folder;
}

}  // namespace

void ensureDirectory(const std::filesystem::path& folder) {
    std::error_code ignored;
    if (std::filesystem::create_directories(folder, ignored)) ::chmod(folder.c_str(), S_IRWXU);
}

std::optional<std::filesystem::path> defaultDataDirectory() {
    return xdgFolder("XDG_DATA_HOME", ".local/share");
}

std::optional<std::filesystem::path> defaultConfigDirectory() {
    return xdgFolder("XDG_CONFIG_HOME", ".config");
}

}  // namespace kx

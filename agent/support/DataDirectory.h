#pragma once

#include <filesystem>
#include <optional>

namespace kx {

// $XDG_DATA_HOME/Kestrix, else ~/.local/share/Kestrix; created (mode 0700) when missing.
// Absent when neither variable nor a home folder is known.
std::optional<std::filesystem::path> defaultDataDirectory();

// $XDG_CONFIG_HOME/Kestrix, else ~/.config/Kestrix; created when missing.
std::optional<std::filesystem::path> defaultConfigDirectory();

// Creates the folder and its parents with the given mode; errors are ignored.
void ensureDirectory(const std::filesystem::path& folder);

}  // namespace kx

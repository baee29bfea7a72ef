#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <string_view>

namespace kx {

// The persisted switch for automatic update checks, kept in the agent's small settings file
// (a JSON object; other keys in it are left as they are).
class UpdatePreferences {
public:
    static constexpr std::string_view automaticChecksKey = "checkForUpdatesAutomatically";
    static constexpr std::string_view settingsFileName = "settings.json";

    explicit UpdatePreferences(std::filesystem::path settingsFile) : file_(std::move(settingsFile)) {}

    // settings.json in the configuration folder ($XDG_CONFIG_HOME/Kestrix); absent when no
    // configuration folder is known.
    static std::optional<std::filesystem::path> defaultLocation();

    // The stored boolean; true when the key is missing, not a boolean, or the file unreadable.
    bool automaticChecks() const;
    // Rewrites the file atomically; throws std::system_error when it cannot be written.
    void setAutomaticChecks(bool enabled);

private:
    std::filesystem::path file_;
    mutable std::mutex lock_;
};

}  // namespace kx

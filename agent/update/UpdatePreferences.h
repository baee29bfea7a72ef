#pragma once

#include <filesystem>
#include <functional>
#include <memory>
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

    explicit UpdatePreferences(std::filesystem::path settingsFile);

    // settings.json in the configuration folder ($XDG_CONFIG_HOME/Kestrix), looked up at the
    // first read or write so that merely building the agent touches no folder.
    static std::shared_ptr<UpdatePreferences> standard();

    // The stored boolean; true when the key is missing, not a boolean, or the file unreadable.
    bool automaticChecks() const;
    // Rewrites the file atomically; throws std::system_error when it cannot be written.
    void setAutomaticChecks(bool enabled);

private:
    using Locator = std::function<std::optional<std::filesystem::path>()>;
    explicit UpdatePreferences(Locator locate) : locate_(std::move(locate)) {}
    // Under the lock.
    const std::optional<std::filesystem::path>& file() const;

    Locator locate_;
    mutable std::optional<std::optional<std::filesystem::path>> file_;
    mutable std::mutex lock_;
};

}  // namespace kx

#include "agent/update/UpdatePreferences.h"

#include <nlohmann/json.hpp>

#include <system_error>

#include "agent/support/AtomicFile.h"
#include "agent/support/DataDirectory.h"

namespace kx {

namespace {

constexpr int kIndent = 2;

constexpr std::size_t kMaxSettingsBytes = 64 * 1024;

// The settings object, or an empty one when the file is missing, not a regular file (never waited
// on), too large or not a JSON object.
nlohmann::json readSettings(const std::filesystem::path& file) {
    std::string text;
    try {
        text = readRegularFile(file, kMaxSettingsBytes);
    } catch (const std::system_error&) {
        return nlohmann::json::object();
    }
    auto settings = nlohmann::json::parse(text, nullptr, false);
    return settings.is_object() ? settings : nlohmann::json::object();
}

}  // namespace

UpdatePreferences::UpdatePreferences(std::filesystem::path settingsFile)
    : file_(std::optional<std::filesystem::path>(std::move(settingsFile))) {}

std::shared_ptr<UpdatePreferences> UpdatePreferences::standard() {
    return std::shared_ptr<UpdatePreferences>(new UpdatePreferences([]() -> std::optional<std::filesystem::path> {
        auto folder = defaultConfigDirectory();
        if (!folder) return std::nullopt;
        return *folder / settingsFileName;
    }));
}

const std::optional<std::filesystem::path>& UpdatePreferences::file() const {
    if (!file_) file_ = locate_();
    return *file_;
}

bool UpdatePreferences::automaticChecks() const {
    std::lock_guard hold(lock_);
    if (!file()) return true;
    auto settings = readSettings(*file());
    auto entry = settings.find(automaticChecksKey);
    return entry == settings.end() || !entry->is_boolean() || entry->get<bool>();
}

void UpdatePreferences::setAutomaticChecks(bool enabled) {
    std::lock_guard hold(lock_);
    if (!file())
        throw std::system_error(std::make_error_code(std::errc::no_such_file_or_directory), "no configuration folder");
    auto settings = readSettings(*file());
    settings[std::string(automaticChecksKey)] = enabled;
    ensureDirectory(file()->parent_path());
    writeFileAtomically(*file(), settings.dump(kIndent) + "\n");
}

}  // namespace kx

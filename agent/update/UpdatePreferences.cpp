#include "agent/update/UpdatePreferences.h"

#include <nlohmann/json.hpp>

#include "agent/support/AtomicFile.h"
#include "agent/support/DataDirectory.h"

namespace kx {

namespace {

constexpr int kIndent = 2;

// The settings object, or an empty one when the file is missing or not a JSON object.
nlohmann::json readSettings(const std::filesystem::path& file) {
    auto text = readWholeFile(file);
    if (!text) return nlohmann::json::object();
    auto settings = nlohmann::json::parse(*text, nullptr, false);
    return settings.is_object() ? settings : nlohmann::json::object();
}

}  // namespace

std::optional<std::filesystem::path> UpdatePreferences::defaultLocation() {
    auto folder = defaultConfigDirectory();
    if (!folder) return std::nullopt;
    return *folder / settingsFileName;
}

bool UpdatePreferences::automaticChecks() const {
    std::lock_guard hold(lock_);
    auto settings = readSettings(file_);
    auto entry = settings.find(automaticChecksKey);
    return entry == settings.end() || !entry->is_boolean() || entry->get<bool>();
}

void UpdatePreferences::setAutomaticChecks(bool enabled) {
    std::lock_guard hold(lock_);
    auto settings = readSettings(file_);
    settings[std::string(automaticChecksKey)] = enabled;
    ensureDirectory(file_.parent_path());
    writeFileAtomically(file_, settings.dump(kIndent) + "\n");
}

}  // namespace kx

#include "app/model/SettingsFlag.h"

#include <nlohmann/json.hpp>

#include "agent/support/AtomicFile.h"

namespace kx {

namespace {
// Far more than a settings file of a few keys ever holds.
constexpr std::size_t maxSettingsBytes = 64 * 1024;

nlohmann::json readObject(const std::filesystem::path& file) {
    try {
        auto json = nlohmann::json::parse(readRegularFile(file, maxSettingsBytes));
        if (json.is_object()) return json;
    } catch (const std::exception&) {
    }
    return nlohmann::json::object();
}
}  // namespace

bool SettingsFlag::isSet() const {
    auto json = readObject(file_);
    auto entry = json.find(key_);
    return entry != json.end() && entry->is_boolean() && entry->get<bool>();
}

void SettingsFlag::set(bool value) const {
    auto json = readObject(file_);
    json[key_] = value;
    std::filesystem::create_directories(file_.parent_path());
    writeFileAtomically(file_, json.dump(2) + "\n", 0600);
}

}  // namespace kx

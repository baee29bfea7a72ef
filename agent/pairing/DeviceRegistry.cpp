#include "agent/pairing/DeviceRegistry.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "agent/support/AtomicFile.h"
#include "agent/support/DataDirectory.h"

namespace kx {

namespace {

constexpr int kFileIndent = 2;
constexpr mode_t kFileMode = 0600;  // device keys and names are nobody else's business

// Absent when the text is not an array of complete devices. A later entry with an id already
// seen replaces the earlier one, so that one damaged line cannot cost every other pairing.
std::optional<std::map<std::string, PairedDevice>> decodeFile(const std::string& text) {
    auto json = nlohmann::json::parse(text, nullptr, false);
    if (json.is_discarded() || !json.is_array()) return std::nullopt;
    std::map<std::string, PairedDevice> devices;
    for (const auto& element : json) {
        auto device = PairedDevice::fromFileJSON(element);
        if (!device) return std::nullopt;
        devices.insert_or_assign(device->id, std::move(*device));
    }
    return devices;
}

std::string encodeFile(const std::vector<PairedDevice>& devices) {
    auto json = nlohmann::json::array();
    for (const auto& device : devices) json.push_back(device.toFileJSON());
    return json.dump(kFileIndent, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace

std::optional<std::filesystem::path> DeviceRegistry::defaultURL() {
    auto folder = defaultDataDirectory();
    if (!folder) return std::nullopt;
    return *folder / fileName;
}

DeviceRegistry::DeviceRegistry(std::optional<std::filesystem::path> url) : url_(std::move(url)) {
    load();
}

void DeviceRegistry::load() {
    if (!url_) return;
    auto text = readWholeFile(*url_);
    if (!text) return;
    auto devices = decodeFile(*text);
    if (!devices) return;
    std::lock_guard guard(lock_);
    devices_ = std::move(*devices);
}

std::optional<PairedDevice> DeviceRegistry::device(const std::string& id) const {
    std::lock_guard guard(lock_);
    auto it = devices_.find(id);
    if (it == devices_.end()) return std::nullopt;
    return it->second;
}

std::vector<PairedDevice> DeviceRegistry::all() const {
    std::vector<PairedDevice> devices;
    {
        std::lock_guard guard(lock_);
        devices.reserve(devices_.size());
        for (const auto& [id, device] : devices_) devices.push_back(device);
    }
    std::sort(devices.begin(), devices.end(),
              [](const PairedDevice& a, const PairedDevice& b) { return a.pairedAt > b.pairedAt; });
    return devices;
}

void DeviceRegistry::registerDevice(const PairedDevice& device) {
    {
        std::lock_guard guard(lock_);
        devices_.insert_or_assign(device.id, device);
        ++version_;
    }
    persist();
}

void DeviceRegistry::touch(const std::string& id, PairedDevice::TimePoint at) {
    {
        std::lock_guard guard(lock_);
        if (auto it = devices_.find(id); it != devices_.end()) {
            it->second.lastSeen = at;
            ++version_;
        }
    }
    persist();
}

bool DeviceRegistry::revoke(const std::string& id) {
    RevokeHandler handler;
    {
        std::lock_guard guard(lock_);
        if (devices_.erase(id) == 0) return false;
        ++version_;
        handler = onRevoke_;
    }
    persist();
    if (handler) handler(id);
    return true;
}

void DeviceRegistry::revokeAll() {
    std::vector<std::string> ids;
    {
        std::lock_guard guard(lock_);
        for (const auto& [id, device] : devices_) ids.push_back(id);
    }
    for (const auto& id : ids) revoke(id);
}

void DeviceRegistry::setOnRevoke(RevokeHandler handler) {
    std::lock_guard guard(lock_);
    onRevoke_ = std::move(handler);
}

void DeviceRegistry::persist() {
    if (!url_) return;
    std::lock_guard writing(writeLock_);
    std::vector<PairedDevice> snapshot;
    std::uint64_t version = 0;
    {
        std::lock_guard guard(lock_);
        version = version_;
        // Another writer already stored this state (or a newer one) while we waited.
        if (writtenVersion_ && *writtenVersion_ >= version) return;
        for (const auto& [id, device] : devices_) snapshot.push_back(device);
    }
    try {
        writeFileAtomically(*url_, encodeFile(snapshot), kFileMode);
        writtenVersion_ = version;
    } catch (const std::exception&) {
        // Memory stays authoritative; the next change tries again.
    }
}

}  // namespace kx

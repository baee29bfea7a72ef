#include "agent/pairing/DeviceRegistry.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "agent/support/DataDirectory.h"
#include "agent/support/SalvagedJSON.h"

namespace kx {

namespace {

constexpr int kFileIndent = 2;
constexpr mode_t kFileMode = 0600;  // device keys and names are nobody else's business

// The devices of the file that can be decoded; a later entry with an id already seen replaces the
// earlier one. Every entry or part that cannot be used is reported to `file`.
std::map<std::string, PairedDevice> decodeFile(const std::string& text, StateFile& file) {
    auto json = SalvagedJSON::parse(text);
    if (!json.document) file.reportProblem("not complete JSON (" + json.error + ")");
    auto elements = json.array("");
    if (!elements) file.reportProblem("not a list of devices");
    std::map<std::string, PairedDevice> devices;
    for (std::size_t i = 0; elements && i < elements->size(); ++i) {
        auto device = PairedDevice::fromFileJSON((*elements)[i]);
        if (!device) {
            file.reportProblem("skipped " + SalvagedJSON::describe(i, (*elements)[i]) + ": not a complete device");
            continue;
        }
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
    if (url_) file_.emplace(*url_, kFileMode);
    load();
}

void DeviceRegistry::load() {
    if (!file_) return;
    auto text = file_->read();
    if (!text) return;
    auto devices = decodeFile(*text, *file_);
    std::lock_guard guard(lock_);
    devices_ = std::move(devices);
}

std::optional<std::string> DeviceRegistry::saveError() const {
    return file_ ? file_->saveError() : std::nullopt;
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

bool DeviceRegistry::registerDevice(const PairedDevice& device) {
    if (!file_) {
        std::lock_guard guard(lock_);
        devices_.insert_or_assign(device.id, device);
        ++version_;
        return true;
    }
    // The file is written with the new entry first, and memory changed only once it holds it.
    std::lock_guard writing(writeLock_);
    std::vector<PairedDevice> snapshot{device};
    std::uint64_t version = 0;
    {
        std::lock_guard guard(lock_);
        version = version_;
        for (const auto& [id, known] : devices_)
            if (id != device.id) snapshot.push_back(known);
    }
    if (!file_->write(encodeFile(snapshot))) return false;
    std::lock_guard guard(lock_);
    devices_.insert_or_assign(device.id, device);
    // Only when nothing changed meanwhile is the file exactly this state.
    if (++version_ == version + 1) writtenVersion_ = version_;
    return true;
}

void DeviceRegistry::touch(const std::string& id, PairedDevice::TimePoint at) {
    std::lock_guard guard(lock_);
    if (auto it = devices_.find(id); it != devices_.end()) {
        it->second.lastSeen = at;
        ++version_;
    }
}

bool DeviceRegistry::revoke(const std::string& id) {
    RevokeHandler handler;
    {
        std::lock_guard guard(lock_);
        if (devices_.erase(id) == 0) return false;
        ++version_;
        handler = onRevoke_;
    }
    save();
    if (handler) handler(id);
    return true;
}

void DeviceRegistry::setOnRevoke(RevokeHandler handler) {
    std::lock_guard guard(lock_);
    onRevoke_ = std::move(handler);
}

void DeviceRegistry::save() {
    if (!file_) return;
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
    // On failure memory stays authoritative (saveError() says so); the next change tries again.
    if (file_->write(encodeFile(snapshot))) writtenVersion_ = version;
}

}  // namespace kx

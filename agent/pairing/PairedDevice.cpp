#include "agent/pairing/PairedDevice.h"

#include <nlohmann/json.hpp>

#include "agent/pairing/InternetDate.h"
#include "protocol/Base64URL.h"

namespace kx {

namespace {

std::optional<std::string> text(const nlohmann::json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

std::optional<PairedDevice::TimePoint> date(const nlohmann::json& object, const char* key) {
    auto value = text(object, key);
    return value ? parseInternetDate(*value) : std::nullopt;
}

}  // namespace

std::optional<Key32> PairedDevice::signingKey() const {
    auto bytes = base64URLDecode(publicKey);
    if (!bytes || bytes->size() != Key32{}.size()) return std::nullopt;
    Key32 key{};
    std::copy(bytes->begin(), bytes->end(), key.begin());
    return key;
}

nlohmann::json PairedDevice::toFileJSON() const {
    nlohmann::json json = {{"id", id},
                           {"name", name},
                           {"publicKey", publicKey},
                           {"pairedAt", formatInternetDate(pairedAt)},
                           {"platform", platform}};
    if (lastSeen) json["lastSeen"] = formatInternetDate(*lastSeen);
    return json;
}

std::optional<PairedDevice> PairedDevice::fromFileJSON(const nlohmann::json& json) {
    if (!json.is_object()) return std::nullopt;
    auto id = text(json, "id"), name = text(json, "name"), key = text(json, "publicKey");
    auto platform = text(json, "platform");
    auto pairedAt = date(json, "pairedAt");
    if (!id || !name || !key || !platform || !pairedAt) return std::nullopt;
    PairedDevice device{*id, *name, *key, *pairedAt, std::nullopt, *platform};
    // An absent or null lastSeen means "never"; anything else must be a valid date.
    if (auto it = json.find("lastSeen"); it != json.end() && !it->is_null()) {
        device.lastSeen = date(json, "lastSeen");
        if (!device.lastSeen) return std::nullopt;
    }
    return device;
}

}  // namespace kx

std::size_t std::hash<kx::PairedDevice>::operator()(const kx::PairedDevice& device) const {
    return std::hash<std::string>{}(device.id) ^ (std::hash<std::string>{}(device.publicKey) << 1);
}

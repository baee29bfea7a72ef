#pragma once

#include <chrono>
#include <functional>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>

#include "protocol/Bytes.h"

namespace kx {

// A phone that has paired with this computer; one entry of "devices.json".
struct PairedDevice {
    using TimePoint = std::chrono::system_clock::time_point;

    std::string id;
    std::string name;
    std::string publicKey;  // Ed25519, 32 raw bytes in base64url
    TimePoint pairedAt;
    std::optional<TimePoint> lastSeen;
    std::string platform;

    // The decoded public key, or absent when the text is not base64url of 32 bytes.
    std::optional<Key32> signingKey() const;

    // One object of the file; `lastSeen` is left out when unknown.
    nlohmann::json toFileJSON() const;
    // Absent when a required key is missing, a value has the wrong type or a date is not in the
    // file's exact date form.
    static std::optional<PairedDevice> fromFileJSON(const nlohmann::json& json);

    friend bool operator==(const PairedDevice&, const PairedDevice&) = default;
};

}  // namespace kx

template <>
struct std::hash<kx::PairedDevice> {
    std::size_t operator()(const kx::PairedDevice& device) const;
};

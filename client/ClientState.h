#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "client/ClientHandshake.h"

namespace kx {

// What a paired client remembers: where the agent is, which key it must present, and this
// device's identifier and private key. Kept as a JSON file readable by the user alone.
struct ClientState {
    static constexpr const char* defaultFileName = "kxctl.json";

    std::string host;
    std::uint16_t port = 0;
    std::string agentFingerprint;
    std::string agentName;
    std::string deviceId;
    Key32 deviceKey{};  // Ed25519 seed

    DeviceCredentials credentials() const;

    std::string encode() const;
    // Throws StateFileError naming the first missing or malformed key.
    static ClientState decode(std::string_view text);

    // Throws StateFileError when the file is missing, unreadable, malformed, or readable by
    // group or others (it holds a private key).
    static ClientState load(const std::filesystem::path& path);
    // Atomically, mode 0600, creating the folder; throws StateFileError.
    void save(const std::filesystem::path& path) const;

    // The config folder's kxctl.json; absent when there is no config folder.
    static std::optional<std::filesystem::path> defaultPath();

    friend bool operator==(const ClientState&, const ClientState&) = default;
};

}  // namespace kx

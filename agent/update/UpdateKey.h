#pragma once

#include <exception>
#include <filesystem>
#include <optional>
#include <string_view>

#include "protocol/Bytes.h"

namespace kx::UpdateKey {

// The one Ed25519 public key the agent trusts for update manifests, shipped with the
// application's data as "update-public-key.txt".
inline constexpr std::string_view resourceName = "update-public-key";
inline constexpr std::string_view resourceExtension = "txt";
// Overrides the key file's location (private deployments, tests).
inline constexpr const char* locationVariable = "KX_UPDATE_PUBLIC_KEY_FILE";

struct Invalid : std::exception {
    const char* what() const noexcept override { return "not an update public key"; }
};

// 43 characters of unpadded base64url for 32 bytes, surrounding whitespace ignored.
Key32 parse(std::string_view text);

// The key in `file`; absent (never an error) when the file is missing, unreadable or invalid.
std::optional<Key32> bundled(const std::filesystem::path& file);

// Where the installed key lives: $KX_UPDATE_PUBLIC_KEY_FILE, else beside the folder of the running
// executable (bin/../update-public-key.txt in a portable installation), else under its share folder
// (bin/../share/kestrix/update-public-key.txt).
std::filesystem::path defaultLocation();

}  // namespace kx::UpdateKey

#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string_view>

#include "agent/update/UpdateRelease.h"
#include "protocol/Bytes.h"

namespace kx {

// The publisher's signed statement of what to install, after its signature has been checked.
struct UpdateManifest {
    static constexpr std::int64_t schema = 1;

    enum class Failure { malformed, badSignature, unsupportedSchema };

    struct Error : std::exception {
        Failure failure;
        explicit Error(Failure f) : failure(f) {}
        const char* what() const noexcept override;
    };

    bool paused = false;
    std::optional<UpdateRelease> release;

    // Checks the signature over the canonical form before reading anything else, then the
    // schema and the entry for `platform`. Throws Error with the first failure met.
    static UpdateManifest verified(std::string_view data, const Key32& publicKey, std::string_view platform);

    friend bool operator==(const UpdateManifest&, const UpdateManifest&) = default;
};

// "linux" on Linux, "macos" on a Mac: the platform entry this build reads.
#if defined(__APPLE__)
inline constexpr std::string_view updatePlatform = "macos";
#else
inline constexpr std::string_view updatePlatform = "linux";
#endif

}  // namespace kx

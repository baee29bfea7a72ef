#pragma once

#include <stdexcept>
#include <string>

#include <sodium.h>

#include "agent/update/CanonicalJSON.h"
#include "agent/update/Ed25519Detached.h"
#include "agent/update/ManifestSigning.h"

namespace kx::testing {

// A fixed publisher key for tests.
inline Key32 testSeed() {
    Key32 seed{};
    for (std::size_t i = 0; i < seed.size(); ++i) seed[i] = static_cast<std::uint8_t>(i + 1);
    return seed;
}
inline Key32 testPublicKey() {
    return Ed25519Detached::publicKeyFromSeed(testSeed());
}

// Lower-case hexadecimal SHA-256, as a manifest publishes it.
inline std::string sha256Hex(const std::string& data) {
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(data.data()), data.size());
    char hex[2 * sizeof digest + 1];
    return sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
}

struct ReleaseFields {
    std::string version = "1.3.0";
    std::string minimumVersion = "1.0.0";
    std::string url = "https://updates.example.org/Kestrix-1.3.0.zip";
    std::string sha256 = std::string(64, 'a');
    std::int64_t size = 1000;
};

// An unsigned manifest offering `fields` for linux.
inline CanonicalJSON::Object manifestObject(const ReleaseFields& fields = {}, bool paused = false) {
    using CanonicalJSON::Array;
    using CanonicalJSON::Object;
    Object release{{"version", fields.version},
                   {"minimumVersion", fields.minimumVersion},
                   {"url", fields.url},
                   {"sha256", fields.sha256},
                   {"size", fields.size},
                   {"notes", Array{"Faster pointer", "Fixes"}},
                   {"caps", Array{"input.pointer"}}};
    return Object{{"schema", 1}, {"paused", paused}, {"platforms", Object{{"linux", release}}}};
}

// The member named `key` of an object, for tests that alter a manifest in place.
inline CanonicalJSON::Value& memberOf(CanonicalJSON::Value& object, const std::string& key) {
    for (auto& member : *object.asObject()) {
        if (member.first == key) return member.second;
    }
    throw std::out_of_range(key);
}

inline std::string signedText(const CanonicalJSON::Object& manifest) {
    return signManifest(CanonicalJSON::serialize(CanonicalJSON::Value(manifest)), testSeed());
}

inline std::string signedManifest(const ReleaseFields& fields = {}, bool paused = false) {
    return signedText(manifestObject(fields, paused));
}

}  // namespace kx::testing

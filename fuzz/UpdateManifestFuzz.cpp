// The update manifest check. Each input is also signed with a fixed publisher key so that the
// checks behind the signature are reached: a correctly signed manifest never fails on its
// signature, one checked against another key always does, and an accepted release is usable.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "agent/update/CanonicalJSON.h"
#include "agent/update/Ed25519Detached.h"
#include "agent/update/ManifestSigning.h"
#include "agent/update/UpdateManifest.h"

using namespace kx;

namespace {

Key32 filled(std::uint8_t byte) {
    Key32 key;
    key.fill(byte);
    return key;
}

const Key32 publisherSeed = filled(7);
const Key32 publisherKey = Ed25519Detached::publicKeyFromSeed(publisherSeed);
const Key32 otherKey = Ed25519Detached::publicKeyFromSeed(filled(9));

void checkRelease(const UpdateRelease& release) {
    if (release.version.isDevelopment || !release.url.starts_with("https://") || release.sha256.size() != 64 ||
        release.size <= 0)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    try {
        UpdateManifest::verified(input, publisherKey, updatePlatform);
    } catch (const UpdateManifest::Error&) {
    }
    std::string manifest;
    try {
        manifest = signManifest(input, publisherSeed);
    } catch (const CanonicalJSON::ParseError&) {
        return 0;
    } catch (const ManifestNotAnObject&) {
        return 0;
    }
    if (signManifest(manifest, publisherSeed) != manifest) std::abort();
    for (std::string_view platform : {"linux", "macos", ""}) {
        try {
            auto verified = UpdateManifest::verified(manifest, publisherKey, platform);
            if (verified.release) checkRelease(*verified.release);
        } catch (const UpdateManifest::Error& error) {
            if (error.failure == UpdateManifest::Failure::badSignature) std::abort();
        }
    }
    try {
        UpdateManifest::verified(manifest, otherKey, updatePlatform);
        std::abort();
    } catch (const UpdateManifest::Error& error) {
        if (error.failure != UpdateManifest::Failure::badSignature) std::abort();
    }
    return 0;
}

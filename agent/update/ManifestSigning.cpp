#include "agent/update/ManifestSigning.h"

#include <algorithm>

#include "agent/update/CanonicalJSON.h"
#include "agent/update/Ed25519Detached.h"
#include "protocol/Base64URL.h"

namespace kx {

namespace {
constexpr std::string_view kSignatureKey = "signature";
}

std::string signManifest(std::string_view manifest, const Key32& seed) {
    auto document = CanonicalJSON::parse(manifest);
    auto* top = document.asObject();
    if (!top) throw ManifestNotAnObject();
    std::erase_if(*top, [](const auto& member) { return member.first == kSignatureKey; });
    auto signature = Ed25519Detached::sign(asBytes(CanonicalJSON::serialize(document)), seed);
    top->emplace_back(std::string(kSignatureKey), base64URLEncode(signature));
    return CanonicalJSON::serialize(document);
}

}  // namespace kx

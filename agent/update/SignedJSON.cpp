#include "agent/update/SignedJSON.h"

#include <algorithm>

#include "agent/update/Ed25519Detached.h"
#include "protocol/Base64URL.h"

namespace kx {

namespace {
constexpr std::string_view kSignatureKey = "signature";
constexpr std::size_t kSignatureLength = 64;
}  // namespace

bool takeValidSignature(CanonicalJSON::Object& object, const Key32& publicKey) {
    auto member = std::find_if(object.begin(), object.end(), [](const auto& m) { return m.first == kSignatureKey; });
    if (member == object.end() || !member->second.asString()) return false;
    auto signature = base64URLDecode(*member->second.asString());
    if (!signature || signature->size() != kSignatureLength) return false;
    object.erase(member);
    std::string signedBytes = CanonicalJSON::serialize(CanonicalJSON::Value(object));
    return Ed25519Detached::verify(asBytes(signedBytes), *signature, publicKey);
}

}  // namespace kx

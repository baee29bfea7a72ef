#pragma once

#include "agent/update/CanonicalJSON.h"
#include "protocol/Bytes.h"

namespace kx {

// Takes the "signature" member out of `object` and checks it (base64url text of 64 bytes) as an
// Ed25519 signature by `publicKey` over the canonical form of what remains. The way both the
// manifest and an installation's file list are signed.
bool takeValidSignature(CanonicalJSON::Object& object, const Key32& publicKey);

}  // namespace kx

#pragma once

#include "protocol/Bytes.h"

namespace kx::Ed25519Detached {

// Detached Ed25519 signatures over arbitrary bytes (the update manifest's canonical form).
// `seed` is the 32-byte private key as stored by the publisher.
Key32 publicKeyFromSeed(const Key32& seed);
Signature64 sign(ByteView message, const Key32& seed);
bool verify(ByteView message, ByteView signature, const Key32& publicKey);
// True for 32 bytes that encode a usable public key (on the curve, not of small order).
bool isValidPublicKey(const Key32& publicKey);

}  // namespace kx::Ed25519Detached

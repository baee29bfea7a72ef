#include "agent/update/Ed25519Detached.h"

#include <sodium.h>

#include <stdexcept>

namespace kx::Ed25519Detached {

namespace {

void ensureSodium() {
    if (sodium_init() < 0) throw std::runtime_error("libsodium could not be initialised");
}

struct KeyPair {
    Key32 publicKey{};
    std::array<unsigned char, crypto_sign_SECRETKEYBYTES> secretKey{};

    ~KeyPair() { sodium_memzero(secretKey.data(), secretKey.size()); }
};

void fromSeed(const Key32& seed, KeyPair& pair) {
    ensureSodium();
    crypto_sign_seed_keypair(pair.publicKey.data(), pair.secretKey.data(), seed.data());
}

}  // namespace

Key32 publicKeyFromSeed(const Key32& seed) {
    KeyPair pair;
    fromSeed(seed, pair);
    return pair.publicKey;
}

Signature64 sign(ByteView message, const Key32& seed) {
    KeyPair pair;
    fromSeed(seed, pair);
    Signature64 signature{};
    crypto_sign_detached(signature.data(), nullptr, message.data(), message.size(), pair.secretKey.data());
    return signature;
}

bool verify(ByteView message, ByteView signature, const Key32& publicKey) {
    if (signature.size() != crypto_sign_BYTES) return false;
    ensureSodium();
    return crypto_sign_verify_detached(signature.data(), message.data(), message.size(), publicKey.data()) == 0;
}

bool isValidPublicKey(const Key32& publicKey) {
    ensureSodium();
    return crypto_core_ed25519_is_valid_point(publicKey.data()) == 1;
}

}  // namespace kx::Ed25519Detached

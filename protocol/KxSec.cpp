#include "protocol/KxSec.h"

#include <sodium.h>

#include <algorithm>
#include <stdexcept>

#include "protocol/Base64URL.h"

namespace kx {

namespace {

constexpr std::size_t hashLength = crypto_hash_sha256_BYTES;
// RFC 5869: the expand step counts its blocks in one byte.
constexpr std::size_t maxHKDFBlocks = 255;

// Keeps secret material off the heap's free lists once it is no longer needed.
template <typename Buffer>
void wipe(Buffer& buffer) {
    sodium_memzero(buffer.data(), buffer.size() * sizeof(buffer[0]));
}

Key32 hmacSHA256(ByteView key, std::initializer_list<ByteView> parts) {
    crypto_auth_hmacsha256_state state;
    crypto_auth_hmacsha256_init(&state, key.data(), key.size());
    for (ByteView part : parts) crypto_auth_hmacsha256_update(&state, part.data(), part.size());
    Key32 out;
    crypto_auth_hmacsha256_final(&state, out.data());
    sodium_memzero(&state, sizeof state);
    return out;
}

void requireLength(ByteView bytes, std::size_t length, const char* what) {
    if (bytes.size() != length) throw std::invalid_argument(std::string(what) + " must be 32 bytes");
}

}  // namespace

void KxSec::ensureInitialized() {
    static const int status = sodium_init();  // 0 first time, 1 when already done, -1 on failure
    if (status < 0) throw CryptoError();
}

SigningKey SigningKey::generate() {
    KxSec::ensureInitialized();
    Key32 seed;
    randombytes_buf(seed.data(), seed.size());
    SigningKey key = fromSeed(seed);
    wipe(seed);
    return key;
}

SigningKey SigningKey::fromSeed(const Key32& seed) {
    KxSec::ensureInitialized();
    std::array<std::uint8_t, crypto_sign_SECRETKEYBYTES> secret;
    SigningKey key;
    key.seed = seed;
    if (crypto_sign_seed_keypair(key.publicKey.data(), secret.data(), seed.data()) != 0) throw CryptoError();
    wipe(secret);
    return key;
}

namespace KxSec {

Bytes randomNonce() {
    ensureInitialized();
    Bytes nonce(nonceLength);
    randombytes_buf(nonce.data(), nonce.size());
    return nonce;
}

Key32 transcript(ByteView agentEphemeral, ByteView agentNonce, ByteView clientEphemeral, ByteView clientNonce) {
    // Fixed lengths keep the concatenation unambiguous.
    requireLength(agentEphemeral, 32, "agent ephemeral key");
    requireLength(agentNonce, nonceLength, "agent nonce");
    requireLength(clientEphemeral, 32, "client ephemeral key");
    requireLength(clientNonce, nonceLength, "client nonce");
    ensureInitialized();
    crypto_hash_sha256_state state;
    crypto_hash_sha256_init(&state);
    for (ByteView part : {asBytes(transcriptContext), agentEphemeral, agentNonce, clientEphemeral, clientNonce})
        crypto_hash_sha256_update(&state, part.data(), part.size());
    Key32 out;
    crypto_hash_sha256_final(&state, out.data());
    return out;
}

SessionKeys deriveKeys(ByteView sharedSecret, ByteView transcript) {
    Bytes okm = hkdfSHA256(sharedSecret, transcript, asBytes(keyInfo), 2 * sizeof(Key32));
    SessionKeys keys;
    std::copy_n(okm.begin(), 32, keys.clientToAgent.begin());
    std::copy_n(okm.begin() + 32, 32, keys.agentToClient.begin());
    wipe(okm);
    return keys;
}

Bytes signaturePayload(ByteView transcript) {
    Bytes payload(authContext.size() + transcript.size());
    std::copy(transcript.begin(), transcript.end(), std::copy(authContext.begin(), authContext.end(), payload.begin()));
    return payload;
}

Signature64 sign(ByteView transcript, const SigningKey& identity) {
    return signMessage(signaturePayload(transcript), identity);
}

bool verify(ByteView signature, ByteView transcript, ByteView publicKey) {
    return verifyMessage(signature, signaturePayload(transcript), publicKey);
}

std::string fingerprint(ByteView publicKey) {
    return base64URLEncode(sha256(publicKey));
}

Key32 sha256(ByteView data) {
    ensureInitialized();
    Key32 out;
    crypto_hash_sha256(out.data(), data.data(), data.size());
    return out;
}

Bytes hkdfSHA256(ByteView inputKeyMaterial, ByteView salt, ByteView info, std::size_t length) {
    if (length > maxHKDFBlocks * hashLength) throw CryptoError();
    ensureInitialized();
    // RFC 5869: a missing salt is hashLength zero bytes.
    static constexpr Key32 zeroSalt{};
    Key32 prk = hmacSHA256(salt.empty() ? ByteView(zeroSalt) : salt, {inputKeyMaterial});
    Bytes okm;
    okm.reserve(length);
    Key32 block{};
    for (std::uint8_t counter = 1; okm.size() < length; ++counter) {
        ByteView previous = counter == 1 ? ByteView{} : ByteView(block);
        block = hmacSHA256(prk, {previous, info, ByteView(&counter, 1)});
        std::size_t take = std::min(hashLength, length - okm.size());
        okm.insert(okm.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(take));
    }
    wipe(prk);
    wipe(block);
    return okm;
}

Key32 x25519PublicKey(const Key32& privateKey) {
    ensureInitialized();
    Key32 out;
    if (crypto_scalarmult_base(out.data(), privateKey.data()) != 0) throw CryptoError();
    return out;
}

Key32 x25519(const Key32& privateKey, ByteView peerPublicKey) {
    if (peerPublicKey.size() != crypto_scalarmult_BYTES) throw CryptoError();
    ensureInitialized();
    Key32 out;
    // libsodium fails when the result is all zero, i.e. the peer key has low order.
    if (crypto_scalarmult(out.data(), privateKey.data(), peerPublicKey.data()) != 0) throw CryptoError();
    return out;
}

Signature64 signMessage(ByteView message, const SigningKey& identity) {
    ensureInitialized();
    // libsodium's secret key is the seed followed by its public key, which the pair already holds
    // (generate and fromSeed make them together): no key derivation for every signature.
    std::array<std::uint8_t, crypto_sign_SECRETKEYBYTES> secret;
    std::copy(identity.seed.begin(), identity.seed.end(), secret.begin());
    std::copy(identity.publicKey.begin(), identity.publicKey.end(), secret.begin() + identity.seed.size());
    Signature64 signature;
    const int status = crypto_sign_detached(signature.data(), nullptr, message.data(), message.size(), secret.data());
    wipe(secret);
    if (status != 0) throw CryptoError();
    return signature;
}

bool verifyMessage(ByteView signature, ByteView message, ByteView publicKey) {
    if (signature.size() != crypto_sign_BYTES || publicKey.size() != crypto_sign_PUBLICKEYBYTES) return false;
    ensureInitialized();
    return crypto_sign_verify_detached(signature.data(), message.data(), message.size(), publicKey.data()) == 0;
}

void aeadSeal(std::span<std::uint8_t> sealed, ByteView plaintext, ByteView associatedData, const AEADNonce& nonce,
              const Key32& key) {
    if (sealed.size() != plaintext.size() + aeadTagLength) throw std::invalid_argument("sealed buffer size");
    ensureInitialized();
    unsigned long long sealedLength = 0;
    if (crypto_aead_chacha20poly1305_ietf_encrypt(sealed.data(), &sealedLength, plaintext.data(), plaintext.size(),
                                                  associatedData.data(), associatedData.size(), nullptr, nonce.data(),
                                                  key.data()) != 0)
        throw CryptoError();
}

bool aeadOpen(std::span<std::uint8_t> plaintext, ByteView sealed, ByteView associatedData, const AEADNonce& nonce,
              const Key32& key) {
    if (sealed.size() < aeadTagLength || plaintext.size() != sealed.size() - aeadTagLength)
        throw std::invalid_argument("plaintext buffer size");
    ensureInitialized();
    unsigned long long plaintextLength = 0;
    return crypto_aead_chacha20poly1305_ietf_decrypt(plaintext.data(), &plaintextLength, nullptr, sealed.data(),
                                                     sealed.size(), associatedData.data(), associatedData.size(),
                                                     nonce.data(), key.data()) == 0;
}

}  // namespace KxSec
}  // namespace kx

#pragma once

#include <array>
#include <cstdint>
#include <exception>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "protocol/Bytes.h"

namespace kx {

// Thrown when a cryptographic primitive fails (bad key, library failure).
struct CryptoError : std::exception {
    const char* what() const noexcept override { return "cryptographic operation failed"; }
};

// A long-term Ed25519 key pair; `seed` is the 32 raw private-key bytes that get stored. Made by
// generate or fromSeed only: signing trusts that `publicKey` is the seed's.
struct SigningKey {
    Key32 seed{};
    Key32 publicKey{};

    static SigningKey generate();
    static SigningKey fromSeed(const Key32& seed);
};

// The handshake's key schedule and signatures; stateless.
namespace KxSec {

inline constexpr std::size_t nonceLength = 32;
inline constexpr std::string_view transcriptContext = "kestrix/v1/transcript";
inline constexpr std::string_view keyInfo = "kestrix/v1/keys";
inline constexpr std::string_view authContext = "kestrix/v1/auth";

struct SessionKeys {
    Key32 clientToAgent{};
    Key32 agentToClient{};
};

Bytes randomNonce();
Key32 transcript(ByteView agentEphemeral, ByteView agentNonce, ByteView clientEphemeral, ByteView clientNonce);
SessionKeys deriveKeys(ByteView sharedSecret, ByteView transcript);
Bytes signaturePayload(ByteView transcript);
Signature64 sign(ByteView transcript, const SigningKey& identity);
bool verify(ByteView signature, ByteView transcript, ByteView publicKey);
// base64url of SHA-256 over the 32 raw public-key bytes (43 characters).
std::string fingerprint(ByteView publicKey);

// The primitives under the key schedule, exposed for tests and benchmarks.
Key32 sha256(ByteView data);
// RFC 5869 extract then expand; throws CryptoError when length exceeds 255 * 32 bytes.
Bytes hkdfSHA256(ByteView inputKeyMaterial, ByteView salt, ByteView info, std::size_t length);

Key32 x25519PublicKey(const Key32& privateKey);
// Throws CryptoError when the peer key is not 32 bytes or the shared secret is all zero
// (a low-order peer key).
Key32 x25519(const Key32& privateKey, ByteView peerPublicKey);

Signature64 signMessage(ByteView message, const SigningKey& identity);
bool verifyMessage(ByteView signature, ByteView message, ByteView publicKey);

// ChaCha20-Poly1305 (IETF). `sealed` is the ciphertext followed by the 16-byte tag.
inline constexpr std::size_t aeadTagLength = 16;
using AEADNonce = std::array<std::uint8_t, 12>;
// Writes plaintext.size() + aeadTagLength bytes into `sealed`.
void aeadSeal(std::span<std::uint8_t> sealed, ByteView plaintext, ByteView associatedData, const AEADNonce& nonce,
              const Key32& key);
// Writes sealed.size() - aeadTagLength bytes into `plaintext`; false when the tag does not verify.
bool aeadOpen(std::span<std::uint8_t> plaintext, ByteView sealed, ByteView associatedData, const AEADNonce& nonce,
              const Key32& key);

// Prepares libsodium once per process (thread-safe); the functions above call it themselves.
void ensureInitialized();

}  // namespace KxSec
}  // namespace kx
